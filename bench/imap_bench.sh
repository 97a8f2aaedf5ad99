#!/usr/bin/env bash
# Times `skerrow check --imap` on a loopback Dovecot serving a generated
# mailbox against the least a client can do: one UID FETCH of every header
# block (imap_bench fetch). Prints both, their ratio and the check's peak
# memory.
#
#   bench/imap_bench.sh [BUILD_DIR]      (default: build-rel, a Release build
#                                        with skerrow, maildir_bench and
#                                        imap_bench built)
#
# Run as root: Dovecot serves the mail as the user nobody. Environment:
# SKERROW_BENCH_MESSAGES (default 50000), SKERROW_BENCH_RUNS (default 3,
# median taken), TMPDIR (where the mail goes; about 1.7 GB for 50,000).
#
# Dovecot indexes the mailbox once before the runs; each run starts from a
# copy of the Maildir (hard links) and of that index, with the server
# restarted on it, and is timed warm: the baseline runs right before it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-rel}
messages=${SKERROW_BENCH_MESSAGES:-50000}
runs=${SKERROW_BENCH_RUNS:-3}
address=me@bench.example
skerrow=$build/skerrow
generator=$build/bench/maildir_bench
client=$build/bench/imap_bench
for program in "$skerrow" "$generator" "$client" /usr/sbin/dovecot /usr/bin/openssl; do
  if [[ ! -x $program ]]; then
    echo "imap_bench.sh: $program is missing; build or install it first:" >&2
    echo "  cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKERROW_TESTS=OFF" >&2
    echo "  cmake --build $build --target skerrow maildir_bench imap_bench" >&2
    exit 1
  fi
done
if [[ $(id -u) != 0 ]]; then
  echo "imap_bench.sh: run as root (Dovecot serves the mail as nobody)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/skerrow-imap-bench-XXXXXX")
chmod 755 "$work"
dovecot_pid=
stop_dovecot() {
  if [[ -n $dovecot_pid ]]; then
    kill "$dovecot_pid" 2>/dev/null || true
    wait "$dovecot_pid" 2>/dev/null || true
    dovecot_pid=
  fi
}
trap 'stop_dovecot; [[ -n ${SKERROW_BENCH_KEEP:-} ]] || rm -rf "$work"' EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)

echo "== generating $messages messages in $work"
mkdir -p "$work/template/config" "$work/template/data/skerrow" "$work/empty"/{cur,new,tmp}
"$generator" generate "$work/mail/Maildir" "$work/template/data/skerrow/$(id -un)" --messages "$messages"
mkdir -p "$work/mail/index" "$work/mail/home"
chown -R nobody:nogroup "$work/mail"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
echo "amy:{PLAIN}secret::::::" >"$work/passwd"
cat >"$work/dovecot.conf" <<EOF
base_dir = $work/run-dovecot
state_dir = $work/state
log_path = $work/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = yes
ssl_cert = <$work/cert.pem
ssl_key = <$work/key.pem
default_login_user = dovenull
default_internal_user = dovecot
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = $port
    ssl = yes
  }
}
passdb {
  driver = passwd-file
  args = $work/passwd
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=$work/live/home
}
mail_location = maildir:$work/live/Maildir:INDEX=$work/live/index
namespace inbox {
  inbox = yes
  separator = /
  mailbox Trash {
    special_use = \\Trash
    auto = create
  }
}
EOF

start_dovecot() {
  /usr/sbin/dovecot -F -c "$work/dovecot.conf" &
  dovecot_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "imap_bench.sh: Dovecot did not start:" >&2
  cat "$work/dovecot.log" >&2
  exit 1
}
fetch() { "$client" fetch 127.0.0.1 "$port" amy secret "$work/cert.pem"; }
in_home() {
  local home=$1
  shift
  env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" SKERROW_IMAP_PASSWORD=secret "$@"
}

echo "== Dovecot indexes the mailbox"
mv "$work/mail" "$work/live"
start_dovecot
read -r seconds _ count bytes < <(fetch)
echo "first fetch (indexing): ${seconds} s, $count messages, $((bytes / 1024 / 1024)) MiB"
stop_dovecot
mv "$work/live" "$work/mail"
# The first run sets things up; the timed runs are later runs, as from a timer.
in_home "$work/template" "$skerrow" check --maildir "$work/empty" --address "$address" >/dev/null

baseline=() baseline_cpu=() check=() check_cpu=() memory=()
for ((run = 1; run <= runs; run++)); do
  echo "== run $run of $runs"
  rm -rf "$work/live" "$work/home"
  mkdir -p "$work/live"
  cp -al "$work/mail/Maildir" "$work/live/Maildir"
  cp -a "$work/mail/index" "$work/mail/home" "$work/live/"
  chown -R nobody:nogroup "$work/live"
  cp -a "$work/template" "$work/home"
  start_dovecot
  read -r seconds cpu count bytes < <(fetch)
  baseline+=("$seconds") baseline_cpu+=("$cpu")
  echo "one UID FETCH: ${seconds} s (cpu ${cpu} s; $count messages, $((bytes / 1024 / 1024)) MiB)"
  read -r seconds cpu kib status < <(in_home "$work/home" "$generator" run "$work/out" -- \
    "$skerrow" check --imap "imaps://amy@127.0.0.1:$port/" --ca-file "$work/cert.pem" --address "$address")
  if [[ $status != 0 ]]; then
    echo "imap_bench.sh: skerrow check exited $status" >&2
    exit 1
  fi
  check+=("$seconds") check_cpu+=("$cpu") memory+=("$kib")
  echo "skerrow check: ${seconds} s (cpu ${cpu} s; peak $((kib / 1024)) MiB;" \
       "$(grep -m1 -o 'Deleted [0-9]* spams' "$work/out" || echo 'nothing deleted')," \
       "$(grep -c ' | ' "$work/out" || true) listed for review)"
  stop_dovecot
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
peak_kib=$(printf '%s\n' "${memory[@]}" | sort -n | tail -1)

echo
echo "== $messages messages on a loopback Dovecot, median of $runs runs"
awk -v b="$(median "${baseline[@]}")" -v c="$(median "${check[@]}")" -v bc="$(median "${baseline_cpu[@]}")" \
    -v cc="$(median "${check_cpu[@]}")" -v m="$peak_kib" -v load="$(cut -d' ' -f1 /proc/loadavg)" \
    -v cpus="$(nproc)" 'BEGIN {
  printf "                            wall (s)   cpu (s)\n"
  printf "one pipelined UID FETCH:    %8.3f  %8.3f\n", b, bc
  printf "skerrow check --imap:       %8.3f  %8.3f\n", c, cc
  printf "check / UID FETCH:          %8.2f             goal <= 1.5: %s\n", c / b, c / b <= 1.5 ? "met" : "NOT MET"
  printf "check peak memory:          %8.1f MiB          goal < 200: %s\n", m / 1024, m / 1024 < 200 ? "met" : "NOT MET"
  if (load > cpus)
    printf "note: load average %s on %d processors; the wall times include waiting for them\n", load, cpus
}'

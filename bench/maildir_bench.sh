#!/usr/bin/env bash
# Times `skerrow check` on a generated Maildir against two baselines measured
# in the same run: reading every message file whole once, and reading every
# file's header block only. Prints both ratios and the check's peak memory.
#
#   bench/maildir_bench.sh [BUILD_DIR]      (default: build-rel, a Release build
#                                           with maildir_bench and skerrow built)
#
# Environment: SKERROW_BENCH_MESSAGES (default 50000), SKERROW_BENCH_RUNS
# (timed runs of each variant, median taken; default 3), TMPDIR (where the
# Maildir goes; it needs about 1.7 GB for 50,000 messages),
# SKERROW_BENCH_GROWTH (two sizes, default "10000 200000": the check is then
# timed once on a Maildir of each, one after the other, and the exponent of
# the growth printed with the peak memory at the larger; "" skips it; the
# larger needs about 35 KiB a message on disk).
#
# The page cache cannot be dropped without privileges we should not need, so
# every variant is timed warm: the whole Maildir is read once right before
# each timed run. A check moves files, so each of its runs gets a fresh copy
# of the Maildir made of hard links (the message files themselves are never
# written, only renamed) and a fresh copy of the settings and list file.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-rel}
messages=${SKERROW_BENCH_MESSAGES:-50000}
runs=${SKERROW_BENCH_RUNS:-3}
address=me@bench.example
skerrow=$build/skerrow
bench=$build/bench/maildir_bench
for program in "$skerrow" "$bench"; do
  if [[ ! -x $program ]]; then
    echo "maildir_bench.sh: $program is missing; build it first:" >&2
    echo "  cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKERROW_TESTS=OFF" >&2
    echo "  cmake --build $build --target skerrow maildir_bench" >&2
    exit 1
  fi
done
if ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "maildir_bench.sh: warning: $build is not a Release build; the figures mean little" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/skerrow-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# About 35 KiB a message on average (a twentieth carry 500 KiB), plus room.
need_kib=$((messages * 36 + 200 * 1024))
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if ((free_kib < need_kib)); then
  echo "maildir_bench.sh: $work has $((free_kib / 1024)) MiB free, $((need_kib / 1024)) MiB needed;" \
       "set TMPDIR elsewhere or SKERROW_BENCH_MESSAGES lower" >&2
  exit 1
fi

echo "== generating $messages messages in $work"
mkdir -p "$work/template/config" "$work/template/data/skerrow" "$work/empty"/{cur,new,tmp}
"$bench" generate "$work/Maildir" "$work/template/data/skerrow/$(id -un)" --messages "$messages"
echo "$(du -sh "$work/Maildir" | cut -f1) on disk; message size median" \
     "$(find "$work/Maildir" -type f -printf '%s\n' | sort -n | awk '{ s[NR] = $1 } END { print s[int((NR + 1) / 2)] }') bytes"

in_home() {
  local home=$1
  shift
  env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" "$@"
}
# The first run sets things up; the timed runs are later runs, as from a timer.
in_home "$work/template" "$skerrow" check --maildir "$work/empty" --address "$address" >/dev/null

warm() { "$bench" read-whole "$work/Maildir" >/dev/null; }

whole=() headers=() check=() whole_cpu=() headers_cpu=() check_cpu=() memory=()
for ((run = 1; run <= runs; run++)); do
  echo "== run $run of $runs"
  warm
  read -r seconds cpu files bytes < <("$bench" read-whole "$work/Maildir")
  whole+=("$seconds") whole_cpu+=("$cpu")
  echo "read whole:    ${seconds} s (cpu ${cpu} s; $files files, $((bytes / 1024 / 1024)) MiB)"

  warm
  read -r seconds cpu files bytes < <("$bench" read-headers "$work/Maildir")
  headers+=("$seconds") headers_cpu+=("$cpu")
  echo "read headers:  ${seconds} s (cpu ${cpu} s; $files files, $((bytes / 1024 / 1024)) MiB)"

  rm -rf "$work/run"
  mkdir "$work/run"
  cp -al "$work/Maildir" "$work/run/Maildir"
  cp -a "$work/template" "$work/run/home"
  # The check syncs its settings and list file: it must not also pay for
  # writing back the copy's directories.
  sync
  warm
  read -r seconds cpu kib status < <(in_home "$work/run/home" "$bench" run "$work/run/out" -- \
    "$skerrow" check --maildir "$work/run/Maildir" --address "$address")
  if [[ $status != 0 ]]; then
    echo "maildir_bench.sh: skerrow check exited $status" >&2
    exit 1
  fi
  check+=("$seconds") check_cpu+=("$cpu") memory+=("$kib")
  echo "skerrow check: ${seconds} s (cpu ${cpu} s; peak $((kib / 1024)) MiB;" \
       "$(grep -m1 -o 'Deleted [0-9]* spams' "$work/run/out" || echo 'nothing deleted')," \
       "$(grep -c ' | ' "$work/run/out" || true) listed for review," \
       "$(find "$work/run/Maildir/.Trash/cur" -type f | wc -l) in Trash)"
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
peak_kib=$(printf '%s\n' "${memory[@]}" | sort -n | tail -1)

echo
echo "== $messages messages, median of $runs runs, page cache warm"
awk -v w="$(median "${whole[@]}")" -v h="$(median "${headers[@]}")" -v c="$(median "${check[@]}")" \
    -v wc="$(median "${whole_cpu[@]}")" -v hc="$(median "${headers_cpu[@]}")" -v cc="$(median "${check_cpu[@]}")" \
    -v m="$peak_kib" -v load="$(cut -d' ' -f1 /proc/loadavg)" -v cpus="$(nproc)" 'BEGIN {
  verdict = "met"
  printf "                            wall (s)   cpu (s)\n"
  printf "read every file whole:      %8.3f  %8.3f\n", w, wc
  printf "read every header block:    %8.3f  %8.3f\n", h, hc
  printf "skerrow check:              %8.3f  %8.3f\n", c, cc
  printf "check / whole-file read:    %8.2f  %8.2f   goal <= 1.0: %s\n", c / w, cc / wc, c / w <= 1.0 ? "met" : "NOT MET"
  printf "check / header-only read:   %8.2f  %8.2f   goal <= 2.0: %s\n", c / h, cc / hc, c / h <= 2.0 ? "met" : "NOT MET"
  printf "check peak memory:          %8.1f MiB          goal < 200: %s\n", m / 1024, m / 1024 < 200 ? "met" : "NOT MET"
  if (load > cpus)
    printf "note: load average %s on %d processors; the wall times include waiting for them\n", load, cpus
}'

# Growth: one check on each of two sizes, generated afresh, the first
# Maildir removed before the second is made.
read -r small large <<<"${SKERROW_BENCH_GROWTH-10000 200000}"
if [[ -n ${large:-} ]]; then
  growth_kib=$((large * 36 + 200 * 1024 + messages * 36))
  if (($(df -Pk "$work" | awk 'NR == 2 { print $4 }') < growth_kib)); then
    echo "growth: skipped, $((growth_kib / 1024)) MiB of free space needed in $work"
    exit 0
  fi
  declare -A grow_seconds grow_kib
  for size in "$small" "$large"; do
    rm -rf "$work/grow"
    mkdir -p "$work/grow/home/config" "$work/grow/home/data/skerrow"
    "$bench" generate "$work/grow/Maildir" "$work/grow/home/data/skerrow/$(id -un)" --messages "$size" >/dev/null
    in_home "$work/grow/home" "$skerrow" check --maildir "$work/empty" --address "$address" >/dev/null
    sync
    "$bench" read-whole "$work/grow/Maildir" >/dev/null
    read -r seconds cpu kib status < <(in_home "$work/grow/home" "$bench" run "$work/grow/out" -- \
      "$skerrow" check --maildir "$work/grow/Maildir" --address "$address")
    if [[ $status != 0 ]]; then
      echo "maildir_bench.sh: skerrow check exited $status on $size messages" >&2
      exit 1
    fi
    grow_seconds[$size]=$seconds grow_kib[$size]=$kib
    echo "skerrow check on $size messages: ${seconds} s (cpu ${cpu} s; peak $((kib / 1024)) MiB)"
  done
  rm -rf "$work/grow"
  awk -v n1="$small" -v n2="$large" -v t1="${grow_seconds[$small]}" -v t2="${grow_seconds[$large]}" \
      -v m="${grow_kib[$large]}" 'BEGIN {
    e = log(t2 / t1) / log(n2 / n1)
    printf "growth %d -> %d messages:  time exponent %.2f   goal <= 1.1 (linear): %s\n", n1, n2, e, e <= 1.1 ? "met" : "NOT MET"
    printf "check peak memory at %d: %6.1f MiB          goal < 200: %s\n", n2, m / 1024, m / 1024 < 200 ? "met" : "NOT MET"
  }'
fi

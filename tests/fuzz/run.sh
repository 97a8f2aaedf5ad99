#!/bin/sh
# Runs each fuzz target for $1 seconds (default 60) from a small seed corpus.
# Builds nothing: the targets come from the build folder given as $2, else
# $SKERROW_FUZZ_BUILD, else build-fuzz beside the sources. Fails on any
# crash, leak or sanitizer report; the input that caused it is kept in the
# folder named in the message.
set -u

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-${SKERROW_FUZZ_BUILD:-$here/../../build-fuzz}}
bin=$build/tests/fuzz

for target in fuzz_settings fuzz_listfile fuzz_message; do
    if [ ! -x "$bin/$target" ]; then
        echo "run.sh: $bin/$target is missing; configure with -DSKERROW_FUZZ=ON and build it" >&2
        exit 2
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/skerrow-fuzz.XXXXXX") || exit 2

seed() { # target name text
    mkdir -p "$work/$1/corpus"
    printf '%b' "$3" > "$work/$1/corpus/$2"
}
seed fuzz_settings plain '[HKEY_CURRENT_USER\\Software\\Corvalle\\Addins\\Skerrow\\]\nAppPath=/usr/share/skerrow/\nHaveAutoDeleteCount=12\nNeverDisplayForAutoTellSpam=0\n'
seed fuzz_settings escapes '[HKEY_LOCAL_MACHINE\\Odd]Key%25%0A]\na%3Db%5B=C:\\\\dir\\\\\\n\\r\\0\n=\n'
seed fuzz_settings crlf '\0357\0273\0277[HKEY_CURRENT_USER\\K]\r\nName=value\r\n[HKEY_USERS\\x]\r\nlost=1\r\n'
seed fuzz_listfile four 'a@b.example;c@d.example\r\n*@friend.example\r\nspam@x.example\r\n*@junk.example;*@more.example\r\n'
seed fuzz_listfile empty '\r\n\r\n\r\n\r\n'
seed fuzz_listfile short 'a;;b\nc\r'
seed fuzz_message plain 'From: Ann <ann@example.org>\nTo: me@example.com\nSubject: =?UTF-8?Q?h=C3=A9llo?=\n\nHi me@example.com\n'
seed fuzz_message parts 'From: "B, C" <b@x.example>\r\nContent-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nh=E9\r\n--b\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: base64\r\n\r\nPGI+aGk8L2I+\r\n--b--\r\n'
seed fuzz_message large 'From: a@b.example\nContent-Type: multipart/mixed; boundary=xx\n\n--xx\nContent-Type: text/plain\n\nme@example.com\n--xx\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n\n@@@\n--xx--\n'
seed fuzz_message folded 'From: undisclosed:;\nSubject: a\n\tb =?ISO-8859-1?B?6Q==?=\nContent-Type: text/html; charset=utf-8\n\n<p>x</p>'

# Tokens of each format, so that mutations reach past the first check.
cat > "$work/fuzz_settings/dict" <<'TOKENS'
"[HKEY_CURRENT_USER\\"
"[HKEY_LOCAL_MACHINE\\"
"]\x0a"
"\x0a["
"\x0a%5B"
"="
"%25"
"%0A"
"%0D"
"%00"
"%3D"
"%5B"
"\\\\"
"\\n"
"\\r"
"\\0"
"\x0d\x0a"
"\xef\xbb\xbf"
TOKENS
cat > "$work/fuzz_listfile/dict" <<'TOKENS'
";"
"\x0d\x0a"
"\x0a"
"\x0d"
"*@"
TOKENS

cat > "$work/fuzz_message/dict" <<'TOKENS'
"\x0a\x0a"
"\x0d\x0a\x0d\x0a"
"\x0a\x09"
"From: "
"To: "
"Subject: "
"Content-Type: "
"Content-Transfer-Encoding: "
"multipart/mixed; boundary="
"text/plain; charset="
"text/html"
"message/rfc822"
"application/pdf"
"base64"
"quoted-printable"
"\x0a--"
"--\x0a"
"=?UTF-8?B?"
"=?ISO-8859-1?Q?"
"?="
"<a@b.example>"
"@@@"
TOKENS

UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS ASAN_OPTIONS

status=0
for target in fuzz_settings fuzz_listfile fuzz_message; do
    mkdir -p "$work/$target/artifacts"
    log=$work/$target/log
    echo "== $target for ${seconds}s"
    "$bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -dict="$work/$target/dict" \
        -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" >"$log" 2>&1
    code=$?
    # A sanitizer that recovered would leave a report but no failing code.
    if [ $code -ne 0 ] || grep -q -e 'runtime error:' -e 'Sanitizer' "$log"; then
        tail -n 60 "$log"
        echo "$target FAILED (exit $code); inputs kept in $work/$target/artifacts" >&2
        status=1
    else
        tail -n 1 "$log"
    fi
done

[ $status -eq 0 ] && rm -rf "$work"
exit $status

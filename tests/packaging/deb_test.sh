#!/usr/bin/env bash
# Makes the Debian package with CPack from a finished build, checks its
# control fields and contents, runs lintian on it, and runs the program from
# the package's files unpacked into a throwaway root.
#   deb_test.sh BUILD VERSION
set -euo pipefail

build=$(cd "$1" && pwd)
version=$2
arch=$(dpkg --print-architecture)
work=$(mktemp -d)
desktop=
trap '[ -z "$desktop" ] || kill $desktop 2>/dev/null || true; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "deb_test: $*" >&2
  failures=$((failures + 1))
}

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  exit 1
}
deb=$work/out/skerrow_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
  echo "deb_test: no $(basename "$deb"); CPack made: $(cd "$work/out" && echo *)" >&2
  exit 1
fi

# Control fields (lintian checks the rest); the dependencies come from the
# libraries the program links, with the versions their symbols need.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = skerrow ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
depends=$(field Depends)
for library in libc6 libstdc++6 libgmime-3.0-0 libqt6widgets6; do
  [[ ", $depends" == *", $library (>= "[0-9]* ]] || fail "Depends lacks a versioned $library: $depends"
done

# Exactly these files.
dpkg-deb -c "$deb" >"$work/contents"
awk '$1 !~ /^d/ {print $6}' "$work/contents" | sort >"$work/files"
cat >"$work/expected" <<'EOF'
./usr/bin/skerrow
./usr/share/applications/skerrow.desktop
./usr/share/doc/skerrow/changelog.gz
./usr/share/doc/skerrow/copyright
./usr/share/icons/hicolor/32x32/apps/skerrow.png
./usr/share/man/man1/skerrow.1.gz
./usr/share/skerrow/skerrow.chm
EOF
diff -u "$work/expected" "$work/files" >&2 || fail "the package's files differ from the list above"

lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || {
  cat "$work/lintian" >&2
  fail "lintian reports errors"
}

# Installed files only: unpacked into a root of their own, run with a home of
# their own.
root=$work/root
dpkg-deb -x "$deb" "$root"
program=$root/usr/bin/skerrow
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
unset EMAIL MAILDIR DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir -p "$HOME"

"$program" --help >"$work/usage" || fail "skerrow --help fails"
grep -q '^Usage: skerrow' "$work/usage" || fail "skerrow --help prints no usage"

# The manual page names every command and option the program's usage names.
man_text=$(zcat "$root/usr/share/man/man1/skerrow.1.gz" | groff -man -Tascii -P -cbou 2>&1)
commands=$(awk '/^Commands:/ {inside = 1; next} /^[^ ]/ {inside = 0} inside && /^  [a-z]/ {print $1}' "$work/usage")
options=$(grep -o -- '--[a-z][a-z-]*' "$work/usage" | sort -u)
[ -n "$commands" ] && [ -n "$options" ] || fail "no commands or options found in the usage"
for name in $commands $options; do
  grep -qe "$name" <<<"$man_text" || fail "the manual page does not document $name"
done
warnings=$(zcat "$root/usr/share/man/man1/skerrow.1.gz" | groff -man -Tascii -ww -z 2>&1)
[ -z "$warnings" ] || fail "the manual page has troff warnings: $warnings"

mail=$work/Maildir
mkdir -p "$mail"/{cur,new,tmp}
printf 'From: ann@elsewhere.example\nTo: me@home.example\nSubject: Lunch on Friday\n\nHi.\n' >"$mail/new/2.ann"

# The desktop program finds the installed help by itself: it points AppPath
# at the package's help folder on its first start.
QT_QPA_PLATFORM=offscreen "$program" --maildir "$mail" >"$work/desktop" 2>&1 &
desktop=$!
settings=$XDG_CONFIG_HOME/skerrow/settings
for _ in $(seq 100); do
  grep -q '^AppPath=' "$settings" 2>/dev/null && break
  kill -0 $desktop 2>/dev/null || break
  sleep 0.2
done
kill -TERM $desktop 2>/dev/null || true
wait $desktop || fail "the desktop program ended with status $?: $(cat "$work/desktop")"
app_path=$(sed -n 's/^AppPath=//p' "$settings" 2>/dev/null)
[ "$app_path" = "$root/usr/share/skerrow/" ] || fail "AppPath is '$app_path', not $root/usr/share/skerrow/"

[ $failures -eq 0 ] || exit 1
echo "deb_test: $(basename "$deb") passes"

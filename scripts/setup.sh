#!/usr/bin/env bash
# Installs what Skerrow needs to build, run and test on Debian 12:
# compilers and test libraries (locales: the date-format tests make their
# own locales from its sources), GMime for the Maildir host, libetpan and
# GnuTLS for the IMAP host, Qt 6 for the
# desktop program, chmcmd for the help file, maildrop and Dovecot for the
# end-to-end tests, mingw-w64 with Wine for the Windows add-in, and NSIS,
# CPack's dpkg-shlibdeps and lintian for the two installable packages.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev locales
  libgmime-3.0-dev libetpan-dev libgnutls28-dev openssl
  qt6-base-dev libgl-dev xvfb xauth imagemagick fp-utils
  maildrop dovecot-imapd
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 wine32:i386 fonts-wine
  nsis lintian dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "setup: these Debian packages are missing and installing them needs root (no sudo here):" >&2
  echo "  ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# Wine runs the 32-bit add-in, which needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
# No recommends: maildrop would otherwise bring a mail server along.
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

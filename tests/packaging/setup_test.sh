#!/usr/bin/env bash
# Installs, upgrades and removes skerrow-setup-<version>.exe silently under
# Wine, in a prefix of its own, and checks the files, registry entries and
# COM class each step leaves, as a user's Windows would hold them.
#   setup_test.sh SETUP TEMPLATE PREFIX DLLS
# PREFIX is made afresh from TEMPLATE, the Windows tests' prefix (made on
# first use by run_under_wine.sh): its files as hard links, its registry
# files, which Wine rewrites in place, as copies. DLLS holds the cross
# builds' i686/ and x86_64/ folders.
set -euo pipefail

setup=$1
template=$2
prefix=$3
dlls=$4
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -f "$template/.skerrow-ready" ]; then
  "$here/../dll/run_under_wine.sh" "$template" cmd /c exit >/dev/null
fi
rm -rf "$prefix"
cp -al "$template" "$prefix"
for registry in "$template"/*.reg; do
  cp --remove-destination "$registry" "$prefix/"
done

export WINEPREFIX=$prefix WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY
# The wine command starts Wine's own programs as 32-bit ones; this, 64-bit.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT

failures=0
fail() {
  echo "setup_test: $*" >&2
  failures=$((failures + 1))
}

user=$(ls "$prefix/drive_c/users" | grep -vx Public | head -n1)
home=$prefix/drive_c/users/$user
instdir=$home/AppData/Local/Programs/Skerrow
instdir_windows="C:\\users\\$user\\AppData\\Local\\Programs\\Skerrow"
machine_dir="$prefix/drive_c/Program Files/Skerrow"
list_file=$home/AppData/Roaming/Corvalle/Skerrow/$user
settings_key='Software\Corvalle\Addins\Skerrow'
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Skerrow'
machine_uninstall_key='Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Skerrow'
addin_key='Software\Microsoft\Office\Outlook\Addins\Skerrow.startLoad'
clsid_key='Software\Classes\CLSID\{DCEFE1B6-DA11-4302-8C74-4FA86F68C5E9}'
progid_key='Software\Classes\Skerrow.startLoad'

# Each Wine program start is slow, so the server lives on between them; the
# registry files are read once it has written them out and ended.
flush() { timeout 120 wineserver -w || true; }

# The value NAME of KEY in a registry file of the prefix (user.reg for
# HKEY_CURRENT_USER, system.reg for HKEY_LOCAL_MACHINE; an empty NAME is
# the key's default value), unescaped; DWORDs as "dword:…". Fails when there
# is none.
value() {
  KEY=$2 NAME=$3 awk '
    BEGIN { key = "[" tolower(ENVIRON["KEY"]); name = ENVIRON["NAME"] == "" ? "@" : "\"" tolower(ENVIRON["NAME"]) "\"" }
    /^\[/ { current = tolower($0); sub(/\] [0-9]+$/, "", current); gsub(/\\\\/, "\\", current); inside = (current == key); next }
    inside && index($0, "=") > 1 && tolower(substr($0, 1, index($0, "=") - 1)) == name {
      found = 1; text = substr($0, index($0, "=") + 1)
      if (text ~ /^"/) {
        text = substr(text, 2, length(text) - 2)
        gsub(/\\\\/, "\001", text); gsub(/\\"/, "\"", text); gsub(/\001/, "\\", text)
      }
    }
    END { if (!found) exit 1; print text }' "$prefix/$1"
}
# Whether KEY or a key below it is in a registry file (Wine writes out only
# the keys that hold values or nothing at all).
has_key() {
  KEY=$2 awk 'BEGIN { key = "[" tolower(ENVIRON["KEY"]) }
    /^\[/ { current = tolower($0); gsub(/\\\\/, "\\", current) }
    /^\[/ && (index(current, key "]") == 1 || index(current, key "\\") == 1) { found = 1 }
    END { exit !found }' "$prefix/$1"
}
expect_value() { # FILE KEY NAME WANT
  local got
  got=$(value "$1" "$2" "$3") || got="(none)"
  [ "$got" = "$4" ] || fail "$2 $3 is '$got', not '$4'"
}

# The class made by its ProgID in a script host of the given bitness, which
# loads the registered DLL only when it is of its own bitness. Wine's
# HKEY_CLASSES_ROOT holds the machine's classes only, not the user's as
# Windows' does, so this is tried on the installation for all users; the
# user's registration is checked in the registry.
cat >"$prefix/drive_c/create.vbs" <<'EOF'
On Error Resume Next
Set addin = CreateObject("Skerrow.startLoad")
If Err.Number <> 0 Then
  WScript.Echo "CreateObject(""Skerrow.startLoad""): error " & Err.Number
  WScript.Quit 1
End If
WScript.Quit 0
EOF
create64() {
  timeout 120 "$wine64" cscript //nologo 'C:\create.vbs' || fail "the 64-bit script host cannot create Skerrow.startLoad"
}

# What a per-user installation holds, with the DLL of the given bitness.
expect_installed() { # BITS BUILD
  for file in skerrow.dll skerrow.chm uninstall.exe; do
    [ -f "$instdir/$file" ] || fail "no $file in $instdir"
  done
  cmp -s "$instdir/skerrow.dll" "$dlls/$2/skerrow.dll" || fail "the installed skerrow.dll is not the $1-bit one"
  expect_value user.reg "$settings_key" AppPath "$instdir_windows\\"
  expect_value user.reg "$uninstall_key" DisplayName Skerrow
  expect_value user.reg "$uninstall_key" Publisher Corvalle
  expect_value user.reg "$uninstall_key" DisplayVersion "$(basename "$setup" .exe | sed 's/^skerrow-setup-//')"
  expect_value user.reg "$uninstall_key" UninstallString "\"$instdir_windows\\uninstall.exe\""
  expect_value user.reg "$uninstall_key" QuietUninstallString "\"$instdir_windows\\uninstall.exe\" /S"
  local size
  size=$(value user.reg "$uninstall_key" EstimatedSize) || size=none
  [[ "$size" =~ ^dword:0*[1-9a-f] ]] || fail "EstimatedSize is $size"
  expect_value user.reg "$addin_key" FriendlyName Skerrow
  expect_value user.reg "$clsid_key\\InprocServer32" "" "$instdir_windows\\skerrow.dll"
  expect_value user.reg "$progid_key\\CLSID" "" '{DCEFE1B6-DA11-4302-8C74-4FA86F68C5E9}'
}

# A fresh machine: no Office key tells Outlook's bitness, so the 32-bit DLL.
timeout 120 wine "$setup" /S || fail "the silent installer fails"
flush
expect_installed 32 i686
! has_key system.reg "$machine_uninstall_key" || fail "a per-user installation wrote the machine's list of programs"

# What the add-in's first run leaves: its lists, a backup and a setting of
# its own. Then Outlook turns 64-bit, and the second installation upgrades
# the first in place.
mkdir -p "$(dirname "$list_file")"
printf 'ann@x.example\r\n*@x.example\r\nspam@y.example\r\n*@y.example\r\n' >"$list_file"
cp "$list_file" "$list_file.flt"
count='reg add HKCU\Software\Corvalle\Addins\Skerrow /v HaveAutoDeleteCount /d 12 /f'
bitness='reg add HKLM\Software\Microsoft\Office\16.0\Outlook /v Bitness /d x64 /f'
timeout 120 "$wine64" cmd /c "$count && $bitness" >/dev/null || fail "reg add fails"
timeout 120 wine "$setup" /S || fail "the silent upgrade fails"
flush
expect_installed 64 x86_64
[ -z "$(ls "$instdir" | grep -vxE 'skerrow\.(dll|chm)|uninstall\.exe')" ] || fail "the upgrade left $(ls "$instdir")"
cmp -s "$list_file" "$list_file.flt" || fail "the upgrade changed the list file"

# The silent uninstaller (which goes on in a copy of itself) leaves the
# user's lists, backups and settings only.
timeout 120 wine "$instdir_windows\\uninstall.exe" /S || fail "the silent uninstaller fails"
flush
[ ! -e "$instdir" ] || fail "the uninstaller left $instdir: $(ls "$instdir")"
for key in "$uninstall_key" "$addin_key" "$clsid_key" "$progid_key"; do
  ! has_key user.reg "$key" || fail "the uninstaller left $key"
done
! value user.reg "$settings_key" AppPath >/dev/null || fail "the uninstaller left AppPath"
expect_value user.reg "$settings_key" HaveAutoDeleteCount 12
[ -f "$list_file" ] && cmp -s "$list_file" "$list_file.flt" || fail "the uninstaller removed or changed the list file"

# For all users: Program Files, the machine's list of programs and classes.
timeout 120 wine "$setup" /S /ALLUSERS || fail "the silent installation for all users fails"
create64
flush
cmp -s "$machine_dir/skerrow.dll" "$dlls/x86_64/skerrow.dll" || fail "no 64-bit skerrow.dll in $machine_dir"
expect_value system.reg "$machine_uninstall_key" Publisher Corvalle
expect_value system.reg "$clsid_key\\InprocServer32" "" 'C:\Program Files\Skerrow\skerrow.dll'
! has_key user.reg "$uninstall_key" || fail "the installation for all users wrote the user's list of programs"
timeout 120 wine 'C:\Program Files\Skerrow\uninstall.exe' /S || fail "the silent uninstaller for all users fails"
flush
[ ! -e "$machine_dir" ] || fail "the uninstaller left $machine_dir"
for key in "$machine_uninstall_key" "$clsid_key" "$progid_key"; do
  ! has_key system.reg "$key" || fail "the uninstaller left the machine's $key"
done

[ $failures -eq 0 ] || exit 1
rm -rf "$prefix"
echo "setup_test: $(basename "$setup") installs, upgrades and uninstalls"

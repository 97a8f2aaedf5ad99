#!/usr/bin/env bash
# Installs, upgrades and removes skerrow-setup-<version>.exe silently under
# Wine, in a prefix of its own, and checks the files, registry entries and
# COM class each step leaves, as a user's Windows would hold them.
#   setup_test.sh SETUP TEMPLATE PREFIX DLLS
# PREFIX is made afresh from TEMPLATE, the Windows tests' prefix (made on
# first use by run_under_wine.sh), as hard links: Wine replaces its registry
# files rather than writing into them, so the template stays as it was.
# DLLS holds the cross builds' i686/ and x86_64/ folders.
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
rm -f "$prefix/.skerrow-ready"

export WINEPREFIX=$prefix WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY
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
list_file=$home/AppData/Roaming/Corvalle/Skerrow/$user
settings_key='Software\Corvalle\Addins\Skerrow'
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Skerrow'
addin_key='Software\Microsoft\Office\Outlook\Addins\Skerrow.startLoad'
clsid_key='Software\Classes\CLSID\{DCEFE1B6-DA11-4302-8C74-4FA86F68C5E9}'

# Runs a Windows program to its end, then lets the Wine server write the
# registry files out.
run() {
  local status=0
  timeout 120 wine "$@" || status=$?
  timeout 60 wineserver -w || true
  return $status
}

# The value NAME of KEY in a registry file of the prefix (user.reg for
# HKEY_CURRENT_USER, system.reg for HKEY_LOCAL_MACHINE), unescaped; DWORDs
# as "dword:…". Fails when there is none.
value() {
  KEY=$2 NAME=$3 awk '
    BEGIN { key = tolower(ENVIRON["KEY"]); gsub(/\\/, "\\\\", key); name = "\"" tolower(ENVIRON["NAME"]) "\"" }
    /^\[/ { current = tolower($0); sub(/\] [0-9]+$/, "", current); inside = (current == "[" key); next }
    inside && index($0, "=") > 1 && tolower(substr($0, 1, index($0, "=") - 1)) == name {
      found = 1; text = substr($0, index($0, "=") + 1)
      if (text ~ /^"/) { text = substr(text, 2, length(text) - 2); gsub(/\\\\/, "\\", text) }
    }
    END { if (!found) exit 1; print text }' "$prefix/$1"
}
has_key() { KEY=$2 awk 'BEGIN { key = tolower(ENVIRON["KEY"]); gsub(/\\/, "\\\\", key) }
  tolower($0) ~ /^\[/ && index(tolower($0), "[" key "]") == 1 { found = 1 } END { exit !found }' "$prefix/$1"; }
expect_value() { # FILE KEY NAME WANT
  local got
  got=$(value "$1" "$2" "$3") || got="(none)"
  [ "$got" = "$4" ] || fail "$2 $3 is '$got', not '$4'"
}

# The class made by its ProgID, in a script host of the given bitness: that
# one loads the registered DLL only when the registration fits it.
cat >"$prefix/drive_c/create.vbs" <<'EOF'
On Error Resume Next
Set addin = CreateObject("Skerrow.startLoad")
If Err.Number <> 0 Then
  WScript.Echo "CreateObject(""Skerrow.startLoad""): error " & Err.Number
  WScript.Quit 1
End If
WScript.Quit 0
EOF
create() { # 32 or 64
  local host='C:\windows\system32\cscript.exe'
  [ "$1" = 32 ] && host='C:\windows\syswow64\cscript.exe'
  run "$host" //nologo 'C:\create.vbs' || fail "the $1-bit script host cannot create Skerrow.startLoad"
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
  create "$1"
}

# A fresh machine: no Office key says its bitness, so the 32-bit add-in.
run "$setup" /S || fail "the silent installer fails"
expect_installed 32 i686
! has_key system.reg "Software\\Wow6432Node\\$uninstall_key" || fail "a per-user installation wrote the machine's list of programs"

# What the add-in's first run leaves: its lists and a setting of its own.
mkdir -p "$(dirname "$list_file")"
printf 'ann@x.example\r\n*@x.example\r\nspam@y.example\r\n*@y.example\r\n' >"$list_file"
cp "$list_file" "$list_file.flt"
# Then Outlook turns 64-bit; the second installation upgrades in place.
count='reg add HKCU\Software\Corvalle\Addins\Skerrow /v HaveAutoDeleteCount /d 12 /f'
bitness='reg add HKLM\Software\Microsoft\Office\16.0\Outlook /v Bitness /d x64 /f'
run cmd /c "$count && $bitness" >/dev/null
run "$setup" /S || fail "the silent upgrade fails"
expect_installed 64 x86_64
[ "$(grep -c '^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Skerrow\]' "$prefix/user.reg")" = 1 ] ||
  fail "the upgrade left more than one entry in the list of programs"
[ -z "$(ls "$instdir" | grep -vxE 'skerrow\.(dll|chm)|uninstall\.exe')" ] || fail "the upgrade left $(ls "$instdir")"
[ "$(cat "$list_file")" = "$(cat "$list_file.flt")" ] || fail "the upgrade changed the list file"

# The silent uninstaller leaves the user's lists, backups and settings only.
run "$instdir_windows\\uninstall.exe" /S || fail "the silent uninstaller fails"
[ ! -e "$instdir" ] || fail "the uninstaller left $instdir: $(ls "$instdir")"
for key in "$uninstall_key" "$addin_key" "$clsid_key" 'Software\Classes\Skerrow.startLoad'; do
  ! has_key user.reg "$key" || fail "the uninstaller left $key"
done
! value user.reg "$settings_key" AppPath >/dev/null || fail "the uninstaller left AppPath"
expect_value user.reg "$settings_key" HaveAutoDeleteCount 12
[ -f "$list_file" ] && [ -f "$list_file.flt" ] && [ "$(cat "$list_file")" = "$(cat "$list_file.flt")" ] ||
  fail "the uninstaller removed or changed the list file or its backup"

# For all users: Program Files, the machine's list of programs and classes.
run "$setup" /S /ALLUSERS || fail "the silent installation for all users fails"
machine_dir="$prefix/drive_c/Program Files/Skerrow"
cmp -s "$machine_dir/skerrow.dll" "$dlls/x86_64/skerrow.dll" || fail "no 64-bit skerrow.dll in $machine_dir"
expect_value system.reg "Software\\Wow6432Node\\$uninstall_key" Publisher Corvalle
has_key system.reg "$clsid_key" || fail "the installation for all users registered no class for the machine"
create 64
run 'C:\Program Files\Skerrow\uninstall.exe' /S || fail "the silent uninstaller for all users fails"
[ ! -e "$machine_dir" ] || fail "the uninstaller left $machine_dir"
for key in "Software\\Wow6432Node\\$uninstall_key" "$clsid_key"; do
  ! has_key system.reg "$key" || fail "the uninstaller left the machine's $key"
done

[ $failures -eq 0 ] || exit 1
rm -rf "$prefix"
echo "setup_test: $(basename "$setup") installs, upgrades and uninstalls"

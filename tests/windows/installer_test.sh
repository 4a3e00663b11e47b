#!/bin/sh
# The installer under Wine: a silent install (files, registry, the command's
# version), a silent upgrade to the next version, a silent uninstall that
# leaves nothing of ours behind.
#
#   installer_test.sh WINE_RUN PREFIX SETUP NEXT_SETUP VERSION NEXT_VERSION
set -u
wine_run=$1 prefix=$2 setup=$3 next_setup=$4 version=$5 next_version=$6

clsid='{5E2121EE-0300-11D4-8D3B-444553540000}'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrano'
folder="$prefix/drive_c/Program Files/Veltrano"

fail() { echo "FAILED: $*" >&2; exit 1; }
run() { "$wine_run" "$prefix" "$@"; }
# The value lines of a registry key ("name  REG_xx  data"), or nothing.
query() { out=$(run reg query "$1" 2>/dev/null) && printf '%s\n' "$out" | tr -d '\r'; }
value() { query "$1" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
# Waits up to 60 s for the uninstaller (it runs from a copy of itself).
wait_gone() {
  tries=0
  while [ -e "$folder" ] && [ $tries -lt 120 ]; do sleep 0.5; tries=$((tries + 1)); done
}

# A leftover of an earlier run goes first.
if [ -f "$folder/Uninstall.exe" ]; then run "$folder/Uninstall.exe" /S; wait_gone; fi

run "$setup" /S || fail "install exit $?"
for f in Veltrano.dll veltrano.exe README.md LICENSE.txt Uninstall.exe; do
  [ -f "$folder/$f" ] || fail "not installed: $f"
done
[ "$(value "HKCR\\CLSID\\$clsid" '(Default)')" = "Veltrano Shell Extension" ] || fail "class key"
[ "$(value "HKCR\\CLSID\\$clsid\\InprocServer32" '(Default)')" = 'C:\Program Files\Veltrano\Veltrano.dll' ] ||
  fail "server path: $(query "HKCR\\CLSID\\$clsid\\InprocServer32")"
[ "$(value "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel)" = Apartment ] || fail "threading model"
[ "$(value "HKCR\\CLSID\\$clsid\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud" '(Default)')" = "$clsid" ] ||
  fail "class handler entry"
[ "$(value 'HKCR\AllFilesystemObjects\ShellEx\ContextMenuHandlers\VozaduvEreZud' '(Default)')" = "$clsid" ] ||
  fail "AllFilesystemObjects handler entry"
[ "$(value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' "$clsid")" = \
  "Veltrano Shell Extension" ] || fail "Approved value"
[ "$(value "$uninstall_key" DisplayName)" = Veltrano ] || fail "DisplayName"
[ "$(value "$uninstall_key" DisplayVersion)" = "$version.0.0" ] || fail "DisplayVersion: $(query "$uninstall_key")"
[ "$(value "$uninstall_key" Publisher)" = Kerbelin ] || fail "Publisher"
[ -n "$(value "$uninstall_key" DisplayIcon)" ] || fail "DisplayIcon"
[ "$(value "$uninstall_key" UninstallString)" = '"C:\Program Files\Veltrano\Uninstall.exe"' ] || fail "UninstallString"
[ "$(value "$uninstall_key" QuietUninstallString)" = '"C:\Program Files\Veltrano\Uninstall.exe" /S' ] ||
  fail "QuietUninstallString"
size=$(value "$uninstall_key" EstimatedSize)
[ -n "$size" ] && [ $((size)) -gt 100 ] || fail "EstimatedSize: $size"
# The PATH checkbox is off by default.
query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' | grep -qi 'Program Files\\Veltrano' &&
  fail "PATH changed without /PATH"
[ "$(run "$folder/veltrano.exe" --version | tr -d '\r')" = "veltrano $version" ] || fail "installed veltrano --version"

# Upgrade in place to the next version, with the PATH option.
run "$next_setup" /S /PATH || fail "upgrade exit $?"
[ "$(value "$uninstall_key" DisplayVersion)" = "$next_version.0.0" ] || fail "DisplayVersion after upgrade"
[ "$(value "$uninstall_key" VersionMinor)" = "$(printf '0x%x' "${next_version#*.}")" ] || fail "VersionMinor after upgrade"
[ "$(value "HKCR\\CLSID\\$clsid\\InprocServer32" '(Default)')" = 'C:\Program Files\Veltrano\Veltrano.dll' ] ||
  fail "server path after upgrade"
query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' | grep -qi 'Program Files\\Veltrano' ||
  fail "/PATH did not add the folder"
ls "$folder" | grep -q '\.old$' && fail "a file was set aside although none was in use"

# Silent uninstall: no file, no key of ours.
run "$folder/Uninstall.exe" /S || fail "uninstall exit $?"
wait_gone
[ -e "$folder" ] && fail "left behind: $(ls "$folder")"
for key in "HKCR\\CLSID\\$clsid" 'HKCR\AllFilesystemObjects\ShellEx\ContextMenuHandlers\VozaduvEreZud' "$uninstall_key"; do
  [ -z "$(query "$key")" ] || fail "key left: $key"
done
[ -z "$(value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' "$clsid")" ] ||
  fail "Approved value left"
query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' | grep -qi 'Program Files\\Veltrano' &&
  fail "PATH entry left"
echo "installer_test: passed"

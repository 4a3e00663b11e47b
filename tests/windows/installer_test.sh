#!/bin/sh
# The installer under Wine: a silent install (files, registry, the command's
# version), a silent upgrade to the next version while another process holds
# the old DLL loaded (as the file browser does), a simulated restart that
# deletes the old DLL, a silent reinstall with nothing in use, and a silent
# uninstall that leaves nothing of ours behind.
#
#   installer_test.sh WINE_RUN PREFIX SETUP NEXT_SETUP VERSION NEXT_VERSION HOLD_LIBRARY CLSID LEGACY_CLSID
#
# HOLD_LIBRARY is tests/windows/hold_library.cpp built; NEXT_SETUP's folder
# also holds the DLL it installs. CLSID is the handler's class id, LEGACY_CLSID
# the one version 1.50 registered (both from cmake/class_ids.cmake).
set -u
wine_run=$1 prefix=$2 setup=$3 next_setup=$4 version=$5 next_version=$6 hold=$7 clsid=$8 legacy=$9

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrano'
folder="$prefix/drive_c/Program Files/Veltrano"

fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }
run() { "$wine_run" "$prefix" "$@"; }
# The value lines of a registry key ("name  REG_xx  data"), or nothing.
query() { out=$(run reg query "$1" 2>/dev/null) && printf '%s\n' "$out" | tr -d '\r'; }
# One value's data; value names are matched without regard to case, as the
# registry does.
value() { query "$1" | sed -n "s/^ *$2 *REG_[A-Z_]* *//Ip"; }
# Waits up to 60 s for the uninstaller (it runs from a copy of itself).
wait_gone() {
  tries=0
  while [ -e "$folder" ] && [ $tries -lt 120 ]; do sleep 0.5; tries=$((tries + 1)); done
}

# Writes what version 1.50 registered under its class id, with the given
# in-process server.
write_legacy() {
  run reg add "HKCR\\CLSID\\$legacy" /ve /d "Veltrano Shell Extension" /f >/dev/null &&
    run reg add "HKCR\\CLSID\\$legacy\\InprocServer32" /ve /d "$1" /f >/dev/null &&
    run reg add "HKCR\\CLSID\\$legacy\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud" /ve /d "$legacy" /f >/dev/null &&
    run reg add 'HKCR\AllFilesystemObjects\ShellEx\ContextMenuHandlers\VozaduvEreZud' /ve /d "$legacy" /f >/dev/null &&
    run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' /v "$legacy" \
      /d "Veltrano Shell Extension" /f >/dev/null || fail "could not write the 1.50 registration"
}
legacy_approval() { value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' "$legacy"; }

env_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
set_path() { run reg add "$env_key" /v Path /t REG_EXPAND_SZ /d "$1" /f >/dev/null || fail "could not set PATH"; }

# A leftover of an earlier run goes first; the prefix is this test's own, so
# its PATH starts as a fresh prefix has it.
if [ -f "$folder/Uninstall.exe" ]; then run "$folder/Uninstall.exe" /S; wait_gone; fi
run reg delete "HKCR\\CLSID\\$legacy" /f >/dev/null 2>&1
set_path '%SystemRoot%\system32;%SystemRoot%;%SystemRoot%\system32\wbem'

# Installed over version 1.50: its registration named the installed DLL, so
# it goes, handler entry and approval value included.
write_legacy 'C:\Program Files\Veltrano\Veltrano.dll'
run "$setup" /S || fail "install exit $?"
[ -z "$(query "HKCR\\CLSID\\$legacy")" ] || fail "1.50's class key left after the upgrade from 1.50"
[ -z "$(legacy_approval)" ] || fail "1.50's approval value left after the upgrade from 1.50"
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

# Another program's class under 1.50's id stays through an upgrade and the
# uninstall.
write_legacy 'C:\windows\system32\shell32.dll'

# Upgrade in place to the next version, with the PATH option, while another
# process has the installed DLL loaded.
marker="$prefix.hold"
rm -f "$marker" "$marker.stop" "$marker.released"
trap 'touch "$marker.stop"' EXIT
"$wine_run" "$prefix" "$hold" 'C:\Program Files\Veltrano\Veltrano.dll' "$marker" >/dev/null 2>&1 &
tries=0
while [ ! -e "$marker" ] && [ $tries -lt 120 ]; do sleep 0.5; tries=$((tries + 1)); done
[ -e "$marker" ] || fail "the installed DLL could not be loaded"
old_dll=$(cksum <"$folder/Veltrano.dll")
run "$next_setup" /S /PATH || fail "upgrade exit $?"
# The new DLL is in place; the loaded one was renamed aside and is to be
# deleted at the next restart.
# (The installer carries the stripped release copy, made beside it.)
[ "$(cksum <"$folder/Veltrano.dll")" = "$(cksum <"$(dirname "$next_setup")/release/Veltrano.dll")" ] ||
  fail "the new DLL is not in place"
aside=$(ls "$folder" | grep '^Veltrano\.dll\.[0-9]*\.old$') || fail "the loaded DLL was not renamed aside: $(ls "$folder")"
[ "$(printf '%s\n' "$aside" | wc -l)" -eq 1 ] || fail "more than one file set aside: $aside"
[ "$(cksum <"$folder/$aside")" = "$old_dll" ] || fail "the file set aside is not the old DLL"
value 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations |
  grep -qiF "C:\\Program Files\\Veltrano\\$aside" || fail "$aside is not to be deleted at the next restart"
# No restart was forced: the process holding the old DLL runs on and lets go.
touch "$marker.stop"
tries=0
while [ ! -e "$marker.released" ] && [ $tries -lt 60 ]; do sleep 0.5; tries=$((tries + 1)); done
[ -e "$marker.released" ] || fail "the process holding the old DLL did not live through the upgrade"
wait
# Wine's simulated restart carries out the pending operations, as Windows
# does at boot: the old DLL goes, the new one stays.
run wineboot -r || fail "wineboot -r exit $?"
[ -e "$folder/$aside" ] && fail "$aside is still there after a restart"
[ -f "$folder/Veltrano.dll" ] || fail "the restart took the new DLL"
[ "$(value "$uninstall_key" DisplayVersion)" = "$next_version.0.0" ] || fail "DisplayVersion after upgrade"
[ "$(value "$uninstall_key" VersionMinor)" = "$(printf '0x%x' "${next_version#*.}")" ] || fail "VersionMinor after upgrade"
[ "$(value "HKCR\\CLSID\\$clsid\\InprocServer32" '(Default)')" = 'C:\Program Files\Veltrano\Veltrano.dll' ] ||
  fail "server path after upgrade"
query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' | grep -qi 'Program Files\\Veltrano' ||
  fail "/PATH did not add the folder"
# Installed again with nothing in use: nothing more is set aside.
run "$next_setup" /S || fail "reinstall exit $?"
ls "$folder" | grep -q '\.old$' && fail "a file was set aside although none was in use: $(ls "$folder")"

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
[ "$(value "HKCR\\CLSID\\$legacy\\InprocServer32" '(Default)')" = 'C:\windows\system32\shell32.dll' ] ||
  fail "another program's class under 1.50's id did not survive"
[ -n "$(legacy_approval)" ] || fail "another program's approval value under 1.50's id did not survive"
run reg delete "HKCR\\CLSID\\$legacy" /f >/dev/null 2>&1

# The PATH option on machine PATHs of 300, 1,100 and 5,000 characters, each
# with decoys that hold our folder's name; and one that has our folder
# already. The installer adds the folder once as a whole entry and the
# uninstaller takes exactly that entry away; everything else stays as it
# was, the value's type included.
ours='C:\Program Files\Veltrano'
path_type() { query "$env_key" | sed -n 's/^ *Path *\(REG_[A-Z_]*\) .*/\1/Ip'; }
# A PATH of exactly $1 characters: variables, decoys, then filler entries.
make_path() {
  p='%SystemRoot%\system32;%SystemRoot%;C:\Program Files\Veltrano2;%ProgramFiles%\Veltrano Tools'
  n=0
  while [ ${#p} -lt $(($1 - 20)) ]; do n=$((n + 1)); p="$p;C:\Tools\t$n"; done
  while [ ${#p} -lt "$1" ]; do p="${p}x"; done
  printf '%s' "$p"
}
for length in 300 1100 5000 present; do
  if [ "$length" = present ]; then before="$(make_path 300);C:\PROGRAM FILES\Veltrano\;C:\Last"; else before=$(make_path "$length"); fi
  set_path "$before"
  run "$setup" /S /PATH || fail "install with /PATH exit $? ($length)"
  after=$(value "$env_key" Path)
  expected="$before;$ours"
  [ "$length" = present ] && expected=$before
  [ "$after" = "$expected" ] || fail "PATH after install ($length): ${#after} characters, ending in ...${after#"${after%??????????????????????????????????????}"}"
  [ "$(path_type)" = REG_EXPAND_SZ ] || fail "PATH type after install ($length): $(path_type)"
  if [ "$length" = 5000 ]; then
    run "$setup" /S /PATH || fail "reinstall with /PATH exit $?"
    [ "$(value "$env_key" Path)" = "$expected" ] || fail "a second install with /PATH changed the PATH again"
  fi
  run "$folder/Uninstall.exe" /S || fail "uninstall exit $? ($length)"
  wait_gone
  after=$(value "$env_key" Path)
  [ "$after" = "$before" ] || fail "PATH after uninstall ($length): ${#after} characters, not the ${#before} before"
  [ "$(path_type)" = REG_EXPAND_SZ ] || fail "PATH type after uninstall ($length): $(path_type)"
done
echo "installer_test: passed"

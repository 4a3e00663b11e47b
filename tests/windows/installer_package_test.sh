#!/bin/sh
# The installer's registration of the sparse package, under Wine. Wine has
# no package deployment, so PowerShell is replaced in the prefix by a
# stand-in that records each call (tests/windows/record_call.cpp) and can be
# told to fail; the calls are checked for their arguments. Installs go to a
# folder whose name has a single quote, the hard case for the PowerShell
# quoting. (Not a space too: the installer's /D= takes no quotes, and Wine
# quotes an argument that has a space.)
#
#   installer_package_test.sh WINE_RUN PREFIX SETUP NEXT_SETUP RECORD_CALL PACKAGE NEXT_PACKAGE PACKAGE_NAME
#
# Install, upgrade, a failed registration (untrusted certificate), uninstall,
# on Windows 10 build 19041 (version 2004, the first that takes the
# package); then an install and uninstall on build 18363 (version 1909),
# where nothing of the package may run. Wine reports the version its
# registry names, which the test sets and restores.
set -u
wine_run=$1 prefix=$2 setup=$3 next_setup=$4 record_call=$5 package=$6 next_package=$7 package_name=$8

target='C:\O'"'"'Veltrano'
quoted='C:\O'"''"'Veltrano'  # as PowerShell's single-quoted text writes it
folder="$prefix/drive_c/O'Veltrano"
powershell_dir="$prefix/drive_c/windows/system32/WindowsPowerShell/v1.0"
calls="$powershell_dir/calls.log"
handler='HKCR\AllFilesystemObjects\ShellEx\ContextMenuHandlers\VozaduvEreZud'
version_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'

fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }
run() { "$wine_run" "$prefix" "$@"; }
query() { out=$(run reg query "$1" 2>/dev/null) && printf '%s\n' "$out" | tr -d '\r'; }
value() { query "$1" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
wait_gone() {
  tries=0
  while [ -e "$folder" ] && [ $tries -lt 120 ]; do sleep 0.5; tries=$((tries + 1)); done
}
call_count() { if [ -f "$calls" ]; then wc -l <"$calls" | tr -d ' '; else echo 0; fi; }
last_call() { tail -n 1 "$calls" | tr -d '\r'; }
# The classic entry is registered and its server is the DLL in the folder.
classic_registered() {
  clsid=$(value "$handler" '(Default)')
  [ -n "$clsid" ] && [ "$(value "HKCR\\CLSID\\$clsid\\InprocServer32" '(Default)')" = "$target\\Veltrano.dll" ]
}
# Makes Wine report Windows 10 with the given build.
windows_build() {
  run reg add "$version_key" /v CurrentVersion /t REG_SZ /d 10.0 /f >/dev/null &&
    run reg add "$version_key" /v CurrentBuildNumber /t REG_SZ /d "$1" /f >/dev/null &&
    [ "$(run cmd /c ver | tr -d '\r' | sed -n 's/.*Windows //p')" = "10.0.$1" ] || fail "cannot make Wine report build $1"
}
# The Add-AppxPackage call for this folder, with its error handling intact
# ($_ reaches PowerShell as it is).
check_add_call() {
  line=$(last_call)
  case "$line" in
    *'\WindowsPowerShell\v1.0\powershell.exe"'*' -NoProfile -NonInteractive '*) ;;
    *) fail "$1: not a non-interactive PowerShell call: $line" ;;
  esac
  case "$line" in
    *"Add-AppxPackage -Path '$quoted\\Veltrano.msix' -ExternalLocation '$quoted' -ForceUpdateFromAnyVersion -ErrorAction Stop"*) ;;
    *) fail "$1: Add-AppxPackage arguments: $line" ;;
  esac
  case "$line" in
    *'$_.Exception.HResult'*'exit 1'*) ;;
    *) fail "$1: the failure is not reported: $line" ;;
  esac
}

run reg query 'HKCU\Software\Wine' >/dev/null 2>&1  # the prefix exists from here on
# A leftover of an earlier run goes first.
if [ -f "$folder/Uninstall.exe" ]; then run "$folder/Uninstall.exe" /S; wait_gone; fi

# The stand-in takes PowerShell's place for the length of the test.
mkdir -p "$powershell_dir"
[ -f "$powershell_dir/powershell.exe" ] && [ ! -f "$powershell_dir/powershell.exe.wine" ] &&
  mv "$powershell_dir/powershell.exe" "$powershell_dir/powershell.exe.wine"
cp "$record_call" "$powershell_dir/powershell.exe"
# The version the prefix had, for restoring it.
old_version=$(value "$version_key" CurrentVersion) old_build=$(value "$version_key" CurrentBuildNumber)
restore() {
  rm -f "$powershell_dir/powershell.exe" "$calls" "$powershell_dir/exit_code.txt" "$powershell_dir/output.txt"
  [ -f "$powershell_dir/powershell.exe.wine" ] && mv "$powershell_dir/powershell.exe.wine" "$powershell_dir/powershell.exe"
  run reg add "$version_key" /v CurrentVersion /t REG_SZ /d "$old_version" /f >/dev/null 2>&1
  run reg add "$version_key" /v CurrentBuildNumber /t REG_SZ /d "$old_build" /f >/dev/null 2>&1
}
trap restore EXIT
rm -f "$calls" "$powershell_dir/exit_code.txt" "$powershell_dir/output.txt"
windows_build 19041

# Install: one call, the package in the folder, the note in the log.
run "$setup" /S "/D=$target" || fail "install exit $?"
[ "$(call_count)" = 1 ] || fail "install made $(call_count) PowerShell calls"
check_add_call install
cmp -s "$folder/Veltrano.msix" "$package" || fail "the package in the folder is not the build's"
grep -q "package $package_name registered" "$folder/install.log" || fail "install.log: $(cat "$folder/install.log")"
grep -q "Restart the file browser" "$folder/install.log" || fail "install.log does not say to restart the file browser"
classic_registered || fail "the classic entry is not registered"

# Upgrade: the next version's package replaces the registration.
run "$next_setup" /S "/D=$target" || fail "upgrade exit $?"
[ "$(call_count)" = 2 ] || fail "upgrade: $(call_count) calls in all"
check_add_call upgrade
cmp -s "$folder/Veltrano.msix" "$next_package" || fail "the upgrade did not put the next package in place"

# A registration that fails (an untrusted certificate) leaves a working
# classic install and a silent install that returns 0, with the reason
# logged.
echo 1 >"$powershell_dir/exit_code.txt"
printf '0x800B0109 A certificate chain processed, but terminated in a root certificate which is not trusted.\r\n' \
  >"$powershell_dir/output.txt"
run "$next_setup" /S "/D=$target" || fail "a failed registration made the install fail: exit $?"
[ "$(call_count)" = 3 ] || fail "reinstall: $(call_count) calls in all"
check_add_call "failed registration"
grep -q 'registration failed (exit code 1): 0x800B0109' "$folder/install.log" ||
  fail "install.log lacks the reason: $(cat "$folder/install.log")"
classic_registered || fail "the classic entry is gone after a failed registration"
for f in Veltrano.dll veltrano.exe Veltrano.msix Uninstall.exe; do [ -f "$folder/$f" ] || fail "missing: $f"; done
rm -f "$powershell_dir/exit_code.txt" "$powershell_dir/output.txt"

# Uninstall: the registration goes for every user who has it.
run "$folder/Uninstall.exe" /S || fail "uninstall exit $?"
wait_gone
[ -e "$folder" ] && fail "left behind: $(ls "$folder")"
[ "$(call_count)" = 4 ] || fail "uninstall: $(call_count) calls in all"
case "$(last_call)" in
  *"Get-AppxPackage -AllUsers -Name '$package_name' | Remove-AppxPackage -AllUsers"*) ;;
  *) fail "uninstall call: $(last_call)" ;;
esac

# Windows 10 version 1909, the last before 2004: no call.
rm -f "$calls"
windows_build 18363
run "$setup" /S "/D=$target" || fail "install before 2004: exit $?"
[ "$(call_count)" = 0 ] || fail "PowerShell ran before Windows 10 2004: $(last_call)"
grep -q "not registered, this Windows is older" "$folder/install.log" || fail "install.log before 2004"
classic_registered || fail "the classic entry before 2004"
run "$folder/Uninstall.exe" /S || fail "uninstall before 2004: exit $?"
wait_gone
[ -e "$folder" ] && fail "left behind before 2004: $(ls "$folder")"
[ "$(call_count)" = 0 ] || fail "the uninstaller ran PowerShell before Windows 10 2004"
echo "installer_package_test: passed"

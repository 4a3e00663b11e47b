#!/bin/sh
# Checks that a DLL imports from system DLLs only, so that it loads into a
# foreign process with nothing installed beside it.
#   check_imports.sh OBJDUMP DLL
set -u
objdump=$1
dll=$2
listing=$("$objdump" -p "$dll") || exit 2
names=$(printf '%s\n' "$listing" | sed -n 's/^[[:space:]]*DLL Name: //p')
if [ -z "$names" ]; then
  echo "no imports found in $dll" >&2
  exit 1
fi
status=0
for name in $names; do
  case $(printf '%s' "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | shlwapi.dll | ole32.dll | \
    oleaut32.dll | comctl32.dll | gdiplus.dll | msvcrt.dll | version.dll | api-ms-win-*.dll)
      echo "system: $name" ;;
    *)
      echo "not a system DLL: $name" >&2
      status=1 ;;
  esac
done
exit $status

#!/bin/sh
# Checks the release copies that the installer carries: no debug information
# and no symbol table in them, each linked by name (.gnu_debuglink) to its
# debug file beside the release, which holds the debug information; and
# every copy still a whole image of its build (same sections otherwise).
#   check_release_files.sh OBJDUMP RELEASE_DIR DEBUG_DIR FILE...
set -u
objdump=$1
release=$2
debug=$3
shift 3
status=0
fail() { echo "$*" >&2; status=1; }
for file in "$@"; do
  copy="$release/$file"
  sections=$("$objdump" -h "$copy") || { fail "cannot read $copy"; continue; }
  if printf '%s\n' "$sections" | grep -q '\.debug_'; then fail "$copy still holds debug information"; fi
  if ! printf '%s\n' "$sections" | grep -q '\.gnu_debuglink'; then fail "$copy does not name its debug file"; fi
  if "$objdump" -t "$copy" | grep -q '^\['; then fail "$copy still holds a symbol table"; fi
  if ! "$objdump" -h "$debug/$file.debug" | grep -q '\.debug_info'; then
    fail "$debug/$file.debug holds no debug information"
  fi
  # The link section holds the debug file's name, then a zero.
  LC_ALL=C grep -q -a -F "$file.debug" "$copy" || fail "$copy does not name $file.debug"
  echo "$file: $(wc -c <"$copy") bytes, debug file $(wc -c <"$debug/$file.debug") bytes"
done
exit $status

#!/bin/sh
# Runs one Windows test program under Wine, for CTest.
#
#   wine_run.sh PREFIX_DIR PROGRAM [ARGUMENT...]
#
# PREFIX_DIR is a private Wine prefix, created on first use (serialised with
# a lock, so parallel tests share one). A persistent wineserver keeps later
# starts fast. When DISPLAY is unset, a private Xvfb is started and shared by
# the tests of this prefix. Arguments that are absolute host paths reach the
# program as Z:\ paths. Wine's own output and the program's go to files that
# are replayed afterwards (Wine's helper processes inherit the standard
# streams, which would keep a pipe open), and the program's exit code is
# passed through.
set -u

if [ $# -lt 2 ]; then
  echo "usage: wine_run.sh PREFIX_DIR PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$(dirname "$prefix")"

# Prefix and display, set up under a lock. Everything long-lived that is
# started here gets the lock's descriptor closed, or the lock would be held
# for as long as it runs.
display_file="$prefix.display"
(
  flock 9
  if [ ! -f "$prefix/.veltrano-ready" ]; then
    WINEARCH=win64 wineboot -i >"$prefix.init.log" 2>&1 9>&-
    wineserver -w 9>&-
    touch "$prefix/.veltrano-ready"
  fi
  if [ -z "${DISPLAY:-}" ]; then
    alive=no
    # The display file names the number and the Xvfb started for this
    # prefix. Another prefix's Xvfb may hold that number by now (this one's
    # went): it is not ours to use, since its own reaper stops it when that
    # prefix's server goes, and the windows of our programs would go with it.
    if [ -f "$display_file" ]; then
      read -r number owner <"$display_file"
      if [ -f "/tmp/.X$number-lock" ] && [ "$(tr -d ' ' <"/tmp/.X$number-lock")" = "${owner:-}" ] &&
        kill -0 "$owner" 2>/dev/null; then
        alive=yes
      fi
    fi
    if [ "$alive" = no ]; then
      number=90
      while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do
        number=$((number + 1))
      done
      setsid Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp \
        >"$prefix.xvfb.log" 2>&1 9>&- </dev/null &
      xvfb_pid=$!
      tries=0
      while [ ! -e "/tmp/.X11-unix/X$number" ] && [ $tries -lt 100 ]; do
        sleep 0.05
        tries=$((tries + 1))
      done
      echo "$number $xvfb_pid" >"$display_file"
    fi
  fi
  # Persistent server: stays 30 s after its last client.
  wineserver -p30 >/dev/null 2>&1 9>&- </dev/null
  # A display started here goes once the server has gone for good: checked
  # under the same lock, so no run can be between finding the display alive
  # and starting its server. ("wineserver -w" returns at once when no server
  # runs, and waits otherwise.)
  if [ -n "${xvfb_pid:-}" ]; then
    setsid sh -c '
      while :; do
        wineserver -w
        sleep 2
        exec 8>"$1"
        flock 8
        timeout 1 wineserver -w
        if [ $? -ne 124 ]; then
          rm -f "$3"
          kill "$2"
          exit 0
        fi
        exec 8>&-
      done' reaper "$prefix.lock" "$xvfb_pid" "$display_file" >/dev/null 2>&1 9>&- </dev/null &
  fi
) 9>"$prefix.lock"

if [ -z "${DISPLAY:-}" ] && [ -f "$display_file" ]; then
  read -r number owner <"$display_file"
  export DISPLAY=":$number"
fi

# Host paths have at least two parts; a lone "/S" or "/PATH" is a Windows
# switch and passes unchanged.
to_windows() {
  case "$1" in
    /*/*) printf 'Z:%s' "$1" | tr '/' '\\' ;;
    *) printf '%s' "$1" ;;
  esac
}

program=$1
shift
# Rebuild the argument list with converted paths.
count=$#
index=0
while [ $index -lt $count ]; do
  converted=$(to_windows "$1")
  shift
  set -- "$@" "$converted"
  index=$((index + 1))
done

out=$(mktemp "${TMPDIR:-/tmp}/wine_run.out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine_run.err.XXXXXX")
# The 64-bit loader, where there is one: with Wine's 32-bit part installed
# too, `wine reg` or `wine cmd` would start the 32-bit tool, which sees the
# redirected registry (another Windows version, another HKCR\CLSID) rather
# than the view our 64-bit programs use.
loader=wine
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then loader=$candidate; break; fi
done
"$loader" "$program" "$@" >"$out" 2>"$err" </dev/null
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status

#!/bin/sh
# The veltrano command on Windows (under Wine) prints and writes the capture
# time the camera recorded, whatever the zone, and its output keeps the RAW
# file's modification time. The Windows C runtime reads
# TZ in its own form ("EST5EDT", "IST-5:30"), so the zones are given that
# way; an Olson name is tried too.
#
#   capture_time_zone_test.sh WINE_RUN PREFIX VELTRANO_EXE SAMPLE WORK_DIR
set -eu
wine_run=$1 prefix=$2 exe=$3 sample=$4 work=$5

rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }
recorded="2026-12-01T10:30:00"   # the sample's DateTime, 2026:12:01 10:30:00

n=0
for zone in UTC0 EST5EDT IST-5:30 CHAST-12:45CHADT America/New_York; do
  n=$((n + 1))
  TZ=$zone "$wine_run" "$prefix" "$exe" info --json "$sample" >"$work/info$n.txt" 2>&1 ||
    fail "$zone: info exit $?: $(cat "$work/info$n.txt")"
  grep -q "\"capture_time\":\"$recorded\"" "$work/info$n.txt" || fail "$zone: $(cat "$work/info$n.txt")"
  if command -v exiftool >/dev/null 2>&1; then
    TZ=$zone "$wine_run" "$prefix" "$exe" preview "$sample" -o "$work/out$n.jpg" >"$work/preview$n.txt" 2>&1 ||
      fail "$zone: preview exit $?: $(cat "$work/preview$n.txt")"
    written=$(exiftool -s3 -IFD0:ModifyDate "$work/out$n.jpg")
    [ "$written" = "2026:12:01 10:30:00" ] || fail "$zone: DateTime written as '$written'"
    # The output keeps the RAW file's modification time.
    [ "$(stat -c %Y "$work/out$n.jpg")" = "$(stat -c %Y "$sample")" ] || fail "$zone: file time not kept"
  fi
done
command -v exiftool >/dev/null 2>&1 || echo "exiftool is not installed: the written DateTime was not checked"
echo "capture_time_zone_test: passed"

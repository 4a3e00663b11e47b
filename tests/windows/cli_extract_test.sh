#!/bin/sh
# The veltrano command on Windows (under Wine): extracts the demonstration
# RAW file into a sub-folder with the RAW's full Exif (the default), or the
# small inserted block with --exif basic, and counts the file as existing on
# a second run without touching the output.
#
#   cli_extract_test.sh WINE_RUN PREFIX VELTRANO_EXE SAMPLE WORK_DIR VERSION
#
# VERSION is the project's version; `veltrano --version` must print it.
set -eu
wine_run=$1 prefix=$2 exe=$3 sample=$4 work=$5 version=$6

rm -rf "$work"
mkdir -p "$work/shoot"
cp "$sample" "$work/shoot/IMG 1.tif"
out="$work/shoot/extracted_jpegs/IMG 1_VLTR.jpg"

fail() { echo "FAILED: $*" >&2; exit 1; }

"$wine_run" "$prefix" "$exe" extract "$work/shoot" >"$work/first.txt" 2>&1 || fail "first run exit $?: $(cat "$work/first.txt")"
grep -q "RAW files scanned: 1" "$work/first.txt" || fail "summary: $(cat "$work/first.txt")"
grep -q "^New: 1" "$work/first.txt" || fail "counts: $(cat "$work/first.txt")"
[ -f "$out" ] || fail "no output file"
# Start marker, then an Exif APP1 segment built from the RAW's directories
# (not the 1384-byte basic block): its model and its Exif directory's
# exposure are there.
head -c 10 "$out" | od -An -tx1 | tr -d ' \n' | grep -q '^ffd8ffe1....45786966' || fail "no Exif segment after the start marker"
head -c 10 "$out" | od -An -tx1 | tr -d ' \n' | grep -q '^ffd8ffe10568' && fail "the default run wrote the basic block"
grep -q "Veltrano Sample Camera" "$out" || fail "the RAW's model is missing"
before=$(cksum <"$out")

"$wine_run" "$prefix" "$exe" "$work/shoot" >"$work/second.txt" 2>&1 || fail "second run exit $?"
grep -q "^Already there: 1" "$work/second.txt" || fail "second counts: $(cat "$work/second.txt")"
[ "$(cksum <"$out")" = "$before" ] || fail "existing output was changed"

# --output mirrors the folder given under another one, with Windows separators.
mkdir -p "$work/shoot/sub"
cp "$sample" "$work/shoot/sub/IMG 2.tif"
"$wine_run" "$prefix" "$exe" -r -o "$work/out" "$work/shoot" >"$work/output.txt" 2>&1 || fail "--output exit $?: $(cat "$work/output.txt")"
[ -f "$work/out/extracted_jpegs/IMG 1_VLTR.jpg" ] && [ -f "$work/out/sub/extracted_jpegs/IMG 2_VLTR.jpg" ] ||
  fail "--output: $(cd "$work/out" 2>/dev/null && find . -type f)"

# --exif basic: the inserted APP1 segment of 1384 bytes with "Exif".
mkdir -p "$work/basic"
cp "$sample" "$work/basic/IMG 3.tif"
"$wine_run" "$prefix" "$exe" --exif basic "$work/basic" >"$work/basic.txt" 2>&1 || fail "--exif basic exit $?: $(cat "$work/basic.txt")"
head -c 10 "$work/basic/extracted_jpegs/IMG 3_VLTR.jpg" | od -An -tx1 | tr -d ' \n' | grep -q '^ffd8ffe105684578' ||
  fail "--exif basic: no inserted block after the start marker"

# An unknown option is a usage error.
"$wine_run" "$prefix" "$exe" --no-such-option "$work/shoot" >"$work/third.txt" 2>&1 && fail "unknown option accepted"
# --version prints the project's version and starts no extraction.
"$wine_run" "$prefix" "$exe" --version >"$work/version.txt" 2>&1 || fail "--version exit $?"
[ "$(tr -d '\r' <"$work/version.txt")" = "veltrano $version" ] || fail "--version: $(cat "$work/version.txt")"
echo "cli_extract_test: passed"

#!/usr/bin/env bash
# Node.js benchmark: Veltrano's package (bindings/node) against
# exiftool-vendored, and against the veltrano command, side by side in one
# run on one corpus of RAW files of several formats (see bench/node/compare.js).
#
#   bench/node_bench.sh                  # 250 built files + the real camera files
#   COUNT=50 RUNS=1 bench/node_bench.sh  # a quick look
#
# Needs: the CMake build (BUILD, default build: cli/veltrano and
# tests/veltrano_make_test_files), the Node.js package built in
# bindings/node (npm install there), exiftool, and the npm registry for
# exiftool-vendored, which is installed into bench/node only. With
# ../shared/samples the previews are real camera JPEGs and the real camera
# files join the corpus; without it the previews are encoded test pictures.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
COUNT="${COUNT:-250}"
RUNS="${RUNS:-3}"
SAMPLES="$ROOT/../shared/samples"
for tool in node npm exiftool; do
  command -v "$tool" >/dev/null || { echo "node_bench: $tool is required" >&2; exit 2; }
done
for f in "$BUILD/cli/veltrano" "$BUILD/tests/veltrano_make_test_files" "$ROOT/bindings/node/build/Release/veltrano.node"; do
  [[ -e "$f" ]] || { echo "node_bench: $f is missing; build it first" >&2; exit 2; }
done

WORK="$(mktemp -d "${TMPDIR:-/tmp}/veltrano-node-bench.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
export HOME="$WORK" XDG_CONFIG_HOME="$WORK/config"   # the command never touches the user's settings
mkdir -p "$WORK/corpus" "$WORK/config"

jpegs=()
[[ -d "$SAMPLES/camera-jpeg" ]] && jpegs=("$SAMPLES/camera-jpeg")
"$BUILD/tests/veltrano_make_test_files" "$WORK/corpus" "$COUNT" "${jpegs[@]}"
if [[ -d "$SAMPLES/real-raw" ]]; then
  # Real camera files, a few copies of each under names of their own.
  for f in "$SAMPLES"/real-raw/* "$SAMPLES"/raw/FujiFilm.raf "$SAMPLES"/raw/Panasonic.rw2 "$SAMPLES"/raw/SigmaDP2.x3f; do
    [[ -f "$f" ]] || continue
    base="$(basename "$f")"
    for i in 1 2 3 4 5 6 7 8; do cp "$f" "$WORK/corpus/real${i}_$base"; done
  done
fi

(cd "$ROOT/bench/node" && npm install --no-audit --no-fund --silent)
echo "uptime: $(uptime)"
node "$ROOT/bench/node/compare.js" "$BUILD/cli/veltrano" "$WORK/corpus" "$RUNS"

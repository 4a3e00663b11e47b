#!/usr/bin/env bash
# Extraction benchmark: veltrano against exiftool, exiv2, the copy limit,
# and (for scaled copies) a full-size decode + resize, on one corpus of
# RAW-like files (with camera metadata directories), all timed in one run
# on a warm page cache. The default run (the full Exif) is timed against
# the copy limit and exiftool's extract-then-copy pair, the basic Exif
# beside it.
#
#   bench/extract_bench.sh            # 200 files of ~20 MB (about 4 GB)
#   COUNT=40 SIZE_MB=5 RUNS=2 bench/extract_bench.sh   # a quick look
#
# Environment: BUILD (build folder with cli/veltrano, default build-job or
# build), COUNT, SIZE_MB, RUNS (timed runs per command), SCALED_COUNT (files
# of the corpus used for the scaled-copy comparison, default 40: a full-size
# decode and resize takes about a second per preview), KEEP=1 keeps the
# corpus, BASELINE (another cli/veltrano, e.g. a build of an older commit:
# its default and basic runs are timed in the same run, beside this one's),
# PEERS=0 (time only veltrano and the copy limit: no exiftool, exiv2 or
# scaled copies). Needs g++, libjpeg and pixman headers, hyperfine, exiftool,
# exiv2.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ -z "${BUILD:-}" ]]; then
  for b in build-job build; do [[ -x "$ROOT/$b/cli/veltrano" ]] && BUILD="$ROOT/$b" && break; done
fi
VELTRANO="${BUILD:?no build folder with cli/veltrano; set BUILD}/cli/veltrano"
COUNT="${COUNT:-200}"
SIZE_MB="${SIZE_MB:-20}"
RUNS="${RUNS:-3}"
SCALED_COUNT="${SCALED_COUNT:-40}"
SAMPLES="$ROOT/../shared/samples"
BOX=800

for tool in g++ hyperfine exiftool exiv2 python3; do
  command -v "$tool" >/dev/null || { echo "extract_bench: $tool is required" >&2; exit 2; }
done
[[ -x "$VELTRANO" ]] || { echo "extract_bench: $VELTRANO is missing; build it first" >&2; exit 2; }
BASELINE="${BASELINE:-}"
[[ -z "$BASELINE" || -x "$BASELINE" ]] || { echo "extract_bench: BASELINE $BASELINE is not a program" >&2; exit 2; }
PEERS="${PEERS:-1}"
[[ -d "$SAMPLES/camera-jpeg" ]] || { echo "extract_bench: $SAMPLES/camera-jpeg is missing" >&2; exit 2; }

WORK="$(mktemp -d "${TMPDIR:-/tmp}/veltrano-bench.XXXXXX")"
cleanup() { [[ "${KEEP:-0}" == 1 ]] && echo "corpus kept in $WORK" || rm -rf "$WORK"; }
trap cleanup EXIT
mkdir -p "$WORK/bin" "$WORK/raw" "$WORK/out" "$WORK/config"
export HOME="$WORK" XDG_CONFIG_HOME="$WORK/config"   # never touch the user's settings

echo "== building the helper programs"
SRC="$ROOT/bench/extract_bench"
g++ -std=c++20 -O2 -I"$ROOT" -I"$ROOT/tests" "$SRC/make_corpus.cpp" -o "$WORK/bin/make_corpus"
g++ -std=c++20 -O2 "$SRC/copy_limit.cpp" -o "$WORK/bin/copy_limit"
g++ -std=c++20 -O2 $(pkg-config --cflags pixman-1) "$SRC/decode_resize.cpp" -o "$WORK/bin/decode_resize" \
  -ljpeg $(pkg-config --libs pixman-1)

echo "== corpus: $COUNT files of ~$SIZE_MB MB in $WORK/raw"
"$WORK/bin/make_corpus" "$SAMPLES" "$WORK/raw" "$COUNT" "$SIZE_MB"
mv "$WORK/raw/manifest.txt" "$WORK/manifest.txt"
du -sh "$WORK/raw" | sed 's/^/   /'
awk '{n++; s+=$3} END {printf "   previews: %d, average %.2f MB\n", n, s/n/1048576}' "$WORK/manifest.txt"

# Sanity: every tool finds every preview once, before anything is timed
# (this also warms the page cache); the default run gives every output the
# RAW's full Exif.
"$VELTRANO" -q --jobs 1 --exif basic "$WORK/raw"
got=$(ls "$WORK/raw/extracted_jpegs" | wc -l)
[[ "$got" == "$COUNT" ]] || { echo "extract_bench: veltrano wrote $got of $COUNT previews" >&2; exit 1; }
rm -rf "$WORK/raw/extracted_jpegs"
"$VELTRANO" -q --jobs 1 "$WORK/raw"
full=$(exiftool -q -q -if '$ExifIFD:LensModel' -p '$FileName' "$WORK/raw/extracted_jpegs" | wc -l)
[[ "$full" == "$COUNT" ]] || { echo "extract_bench: the default run gave $full of $COUNT previews the RAW's lens" >&2; exit 1; }

R="$WORK/raw"
O="$WORK/out"
PREP="rm -rf '$R'/extracted_jpegs '$R'/extracted_jpegs_$BOX '$O' && mkdir -p '$O'"
EXIFTOOL="exiftool -q -b -PreviewImage -w '$O/%f_p.jpg' '$R'/*.CR2 && exiftool -q -b -JpgFromRaw -w '$O/%f_j.jpg' '$R'/*.NEF '$R'/*.RW2"
# The preview with all the RAW's Exif the exiftool way: extract, then copy
# the Exif over from the RAW (outputs named IMG_0001.CR2.jpg, so that %f of
# an output names its RAW).
EXIFTOOL_FULL="exiftool -q -q -b -PreviewImage -w '$O/%f.%e.jpg' '$R'/*.CR2 && exiftool -q -q -b -JpgFromRaw -w '$O/%f.%e.jpg' '$R'/*.NEF '$R'/*.RW2 && exiftool -q -q -overwrite_original -tagsfromfile '$R/%f' -exif:all '$O'/*.jpg"

COMMANDS=(
  -n "veltrano --jobs 1 (full Exif)" "'$VELTRANO' -q --jobs 1 '$R'"
  -n "veltrano (default jobs)" "'$VELTRANO' -q '$R'"
  -n "veltrano --exif basic --jobs 1" "'$VELTRANO' -q --jobs 1 --exif basic '$R'"
  -n "copy limit" "'$WORK/bin/copy_limit' '$WORK/manifest.txt' '$O'"
)
if [[ -n "$BASELINE" ]]; then
  COMMANDS+=(-n "baseline --jobs 1 (full Exif)" "'$BASELINE' -q --jobs 1 --exif full '$R'"
             -n "baseline --exif basic --jobs 1" "'$BASELINE' -q --jobs 1 --exif basic '$R'")
fi
if [[ "$PEERS" != 0 ]]; then
  COMMANDS+=(-n "exiftool" "$EXIFTOOL"
             -n "exiftool extract + copy Exif" "$EXIFTOOL_FULL"
             -n "exiv2 -ep" "exiv2 -q -f -ep1 -l '$O' '$R'/IMG_*")
fi
echo "== timing extraction ($RUNS runs each, 1 warm-up)"
hyperfine --style basic --warmup 1 --runs "$RUNS" --export-json "$WORK/extract.json" --prepare "$PREP" \
  "${COMMANDS[@]}" >"$WORK/extract.log"

echo '{"results": []}' >"$WORK/scaled.json"
if [[ "$PEERS" != 0 ]]; then
# Scaled copies on the first SCALED_COUNT files (the page cache is warm).
head -n "$SCALED_COUNT" "$WORK/manifest.txt" >"$WORK/manifest_scaled.txt"
SCALED_ARGS="$(cut -d' ' -f1 "$WORK/manifest_scaled.txt" | sed "s/.*/'&'/" | tr '\n' ' ')"
echo "== timing scaled copies on $SCALED_COUNT files (1 run each)"
hyperfine --style basic --runs 1 --export-json "$WORK/scaled.json" --prepare "$PREP" \
  -n "veltrano --sizes smaller --jobs 1" "'$VELTRANO' -q --jobs 1 --sizes smaller --max-width $BOX --max-height $BOX $SCALED_ARGS" \
  -n "veltrano --sizes smaller" "'$VELTRANO' -q --sizes smaller --max-width $BOX --max-height $BOX $SCALED_ARGS" \
  -n "full decode + resize" "'$WORK/bin/decode_resize' '$WORK/manifest_scaled.txt' '$O' $BOX $BOX" \
  >"$WORK/scaled.log"

# The outputs of the peers, checked once: every preview found.
eval "$PREP"
eval "$EXIFTOOL"
echo "   exiftool wrote $(ls "$O" | wc -l) of $COUNT previews"
eval "$PREP"
eval "$EXIFTOOL_FULL"
echo "   exiftool's extract + copy pair wrote $(ls "$O" | wc -l) of $COUNT previews, $(exiftool -q -q -if '$ExifIFD:DateTimeOriginal' -p '$FileName' "$O"/*.jpg | wc -l) with DateTimeOriginal"
eval "$PREP"
exiv2 -q -f -ep1 -l "$O" "$R"/IMG_* || true
echo "   exiv2 wrote $(ls "$O" | wc -l) of $COUNT previews"
fi

python3 - "$WORK/extract.json" "$COUNT" "$WORK/scaled.json" "$SCALED_COUNT" "$(nproc)" <<'EOF'
import json, sys
ext = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
sca = {r["command"]: r for r in json.load(open(sys.argv[3]))["results"]}
n, ns = int(sys.argv[2]), int(sys.argv[4])
print("\n%d cores; wall = median elapsed, cpu = mean user + system" % int(sys.argv[5]))
print("%-36s %9s %11s %11s" % ("command", "wall s", "wall ms/f", "cpu ms/f"))
for group, count in ((ext, n), (sca, ns)):
    for name, r in group.items():
        print("%-36s %9.3f %11.2f %11.2f" % (name, r["median"], r["median"] / count * 1000,
                                            (r["user"] + r["system"]) / count * 1000))
def wall(g, k): return g[k]["median"]
def cpu(g, k): return g[k]["user"] + g[k]["system"]
DEFAULT = "veltrano --jobs 1 (full Exif)"
BASE = "baseline --jobs 1 (full Exif)"
checks = [
    ("default (full) --jobs 1 / copy limit", lambda f: f(ext, DEFAULT) / f(ext, "copy limit"), "<=", 1.3),
    ("--exif basic --jobs 1 / copy limit", lambda f: f(ext, "veltrano --exif basic --jobs 1") / f(ext, "copy limit"), "<=", 1.5),
    ("exiftool / --exif basic --jobs 1", lambda f: f(ext, "exiftool") / f(ext, "veltrano --exif basic --jobs 1"), ">=", 15),
    ("exiv2 / --exif basic --jobs 1", lambda f: f(ext, "exiv2 -ep") / f(ext, "veltrano --exif basic --jobs 1"), ">=", 8),
    ("exiftool pair / default --jobs 1",
     lambda f: f(ext, "exiftool extract + copy Exif") / f(ext, DEFAULT), ">=", 30),
    ("default --jobs 1 / default jobs", lambda f: f(ext, DEFAULT) / f(ext, "veltrano (default jobs)"), None, None),
    ("baseline full --jobs 1 / copy limit", lambda f: f(ext, BASE) / f(ext, "copy limit"), None, None),
    ("baseline basic --jobs 1 / copy limit",
     lambda f: f(ext, "baseline --exif basic --jobs 1") / f(ext, "copy limit"), None, None),
    ("decode+resize / smaller --jobs 1",
     lambda f: f(sca, "full decode + resize") / f(sca, "veltrano --sizes smaller --jobs 1"), ">=", 2),
    ("decode+resize / smaller (default)", lambda f: f(sca, "full decode + resize") / f(sca, "veltrano --sizes smaller"), None, None),
]
print("\n%-36s %8s %8s" % ("ratio", "wall", "cpu"))
for label, ratio, op, target in checks:
    try:
        w, c = ratio(wall), ratio(cpu)
    except KeyError:  # a command this run did not time
        continue
    line = "%-36s %7.2fx %7.2fx" % (label, w, c)
    if op:
        met = (w <= target) if op == "<=" else (w >= target)
        line += "   target %s %gx (wall): %s" % (op, target, "met" if met else "MISSED")
    print(line)
EOF

#!/usr/bin/env bash
# Extraction benchmark: veltrano against exiftool, exiv2, the copy limit,
# and (for scaled copies) a full-size decode + resize, on one corpus of
# RAW-like files, all timed in one run on a warm page cache.
#
#   bench/extract_bench.sh            # 200 files of ~20 MB (about 4 GB)
#   COUNT=40 SIZE_MB=5 RUNS=2 bench/extract_bench.sh   # a quick look
#
# Environment: BUILD (build folder with cli/veltrano, default build-job or
# build), COUNT, SIZE_MB, RUNS (timed runs per command), KEEP=1 keeps the
# corpus. Needs g++, libjpeg and pixman headers, hyperfine, exiftool, exiv2.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ -z "${BUILD:-}" ]]; then
  for b in build-job build; do [[ -x "$ROOT/$b/cli/veltrano" ]] && BUILD="$ROOT/$b" && break; done
fi
VELTRANO="${BUILD:?no build folder with cli/veltrano; set BUILD}/cli/veltrano"
COUNT="${COUNT:-200}"
SIZE_MB="${SIZE_MB:-20}"
RUNS="${RUNS:-3}"
SAMPLES="$ROOT/../shared/samples"
BOX=800

for tool in g++ hyperfine exiftool exiv2 python3; do
  command -v "$tool" >/dev/null || { echo "extract_bench: $tool is required" >&2; exit 2; }
done
[[ -x "$VELTRANO" ]] || { echo "extract_bench: $VELTRANO is missing; build it first" >&2; exit 2; }
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
# (this also warms the page cache).
"$VELTRANO" -q --jobs 1 "$WORK/raw"
got=$(ls "$WORK/raw/extracted_jpegs" | wc -l)
[[ "$got" == "$COUNT" ]] || { echo "extract_bench: veltrano wrote $got of $COUNT previews" >&2; exit 1; }

R="$WORK/raw"
O="$WORK/out"
PREP="rm -rf '$R'/extracted_jpegs '$R'/extracted_jpegs_$BOX '$O' && mkdir -p '$O'"
EXIFTOOL="exiftool -q -b -PreviewImage -w '$O/%f_p.jpg' '$R'/*.CR2 && exiftool -q -b -JpgFromRaw -w '$O/%f_j.jpg' '$R'/*.NEF '$R'/*.RW2"

echo "== timing ($RUNS runs each, 1 warm-up)"
hyperfine --style basic --warmup 1 --runs "$RUNS" --export-json "$WORK/results.json" --prepare "$PREP" \
  -n "veltrano --jobs 1" "'$VELTRANO' -q --jobs 1 '$R'" \
  -n "veltrano (default jobs)" "'$VELTRANO' -q '$R'" \
  -n "copy limit" "'$WORK/bin/copy_limit' '$WORK/manifest.txt' '$O'" \
  -n "exiftool" "$EXIFTOOL" \
  -n "exiv2 -ep" "exiv2 -q -f -ep1 -l '$O' '$R'/IMG_*" \
  -n "veltrano --sizes smaller --jobs 1" "'$VELTRANO' -q --jobs 1 --sizes smaller --max-width $BOX --max-height $BOX '$R'" \
  -n "veltrano --sizes smaller" "'$VELTRANO' -q --sizes smaller --max-width $BOX --max-height $BOX '$R'" \
  -n "full decode + resize" "'$WORK/bin/decode_resize' '$WORK/manifest.txt' '$O' $BOX $BOX" \
  >"$WORK/hyperfine.log"

# The outputs of the peers, checked once: every preview found.
eval "$PREP"
eval "$EXIFTOOL"
echo "   exiftool wrote $(ls "$O" | wc -l) of $COUNT previews"
eval "$PREP"
exiv2 -q -f -ep1 -l "$O" "$R"/IMG_* || true
echo "   exiv2 wrote $(ls "$O" | wc -l) of $COUNT previews"

python3 - "$WORK/results.json" "$COUNT" <<'EOF'
import json, sys
res = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
n = int(sys.argv[2])
def t(name): return res[name]["median"]
print("\n%-36s %10s %12s" % ("command", "median s", "ms per file"))
for name, r in res.items():
    print("%-36s %10.3f %12.2f" % (name, r["median"], r["median"] / n * 1000))
v1, vd = t("veltrano --jobs 1"), t("veltrano (default jobs)")
checks = [
    ("veltrano --jobs 1 / copy limit", v1 / t("copy limit"), "<=", 1.5),
    ("exiftool / veltrano --jobs 1", t("exiftool") / v1, ">=", 15),
    ("exiv2 / veltrano --jobs 1", t("exiv2 -ep") / v1, ">=", 8),
    ("veltrano --jobs 1 / default jobs", v1 / vd, None, None),
    ("full decode+resize / smaller --jobs 1", t("full decode + resize") / t("veltrano --sizes smaller --jobs 1"), ">=", 2),
    ("full decode+resize / smaller (default)", t("full decode + resize") / t("veltrano --sizes smaller"), None, None),
]
print()
for label, ratio, op, target in checks:
    if op is None:
        print("%-40s %7.2fx" % (label, ratio))
    else:
        ok = ratio <= target if op == "<=" else ratio >= target
        print("%-40s %7.2fx  (target %s %gx: %s)" % (label, ratio, op, target, "met" if ok else "MISSED"))
EOF

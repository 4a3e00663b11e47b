#!/usr/bin/env bash
# Scaled copies against libvips' vipsthumbnail, on one corpus of RAW-like
# files whose previews are the camera JPEGs, all measured in one run:
#   - speed: our scaled pass (--sizes smaller minus the native-only run) with
#     one worker against vipsthumbnail in one process with VIPS_CONCURRENCY=1,
#     both into an 800x800 box at quality 95 (vips with --no-rotate: we do
#     not rotate either); target ratio <= 0.8;
#   - scaling: our scaled pass with two workers against one; target <= 0.6,
#     peak memory reported;
#   - quality: PSNR of each copy against a full decode resized to the same
#     size by ImageMagick (-filter Lanczos, 16 bits), ours against vips' on
#     every file (where vips rounds the size differently, its copy is made
#     again at ours); target: worst difference >= -0.2 dB;
#   - file sizes: ours, vips' (4:4:4 at quality 95) and vips' forced to
#     4:2:0, which shows what full-resolution chroma costs.
# Commands run interleaved (each repetition runs every command once, in a
# rotating order) and the medians are compared, which keeps the ratios
# fair on a shared, noisy machine.
#
#   bench/scaled_bench.sh                  # 63 files, 7 repetitions
#   COUNT=20 RUNS=3 bench/scaled_bench.sh  # a quick look
#
# Environment: BUILD (folder with cli/veltrano, default build), COUNT, RUNS,
# BOX (default 800), KEEP=1 keeps the work folder, BASELINE (another
# cli/veltrano, e.g. an older build: its scaled pass is timed alongside, and
# its copies' PSNR and sizes shown). Needs g++, python3, ImageMagick;
# installs libvips-tools when vipsthumbnail is missing.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
VELTRANO="$BUILD/cli/veltrano"
COUNT="${COUNT:-63}"
RUNS="${RUNS:-7}"
BOX="${BOX:-800}"
SAMPLES="$ROOT/../shared/samples"

if ! command -v vipsthumbnail >/dev/null; then
  echo "== installing libvips-tools"
  SUDO=""
  [[ "$(id -u)" == 0 ]] || SUDO=sudo
  $SUDO apt-get install -y libvips-tools >/dev/null
fi
for tool in g++ python3 vipsthumbnail vipsheader convert compare; do
  command -v "$tool" >/dev/null || { echo "scaled_bench: $tool is required" >&2; exit 2; }
done
[[ -x "$VELTRANO" ]] || { echo "scaled_bench: $VELTRANO is missing; build it first" >&2; exit 2; }
[[ -d "$SAMPLES/camera-jpeg" ]] || { echo "scaled_bench: $SAMPLES/camera-jpeg is missing" >&2; exit 2; }

WORK="$(mktemp -d "${TMPDIR:-/tmp}/veltrano-scaled.XXXXXX")"
cleanup() { [[ "${KEEP:-0}" == 1 ]] && echo "work folder kept in $WORK" || rm -rf "$WORK"; }
trap cleanup EXIT
mkdir -p "$WORK/bin" "$WORK/raw" "$WORK/config"
export HOME="$WORK" XDG_CONFIG_HOME="$WORK/config"   # never touch the user's settings

echo "== corpus: $COUNT RAW-like files wrapping the camera JPEGs"
g++ -std=c++20 -O2 -I"$ROOT" -I"$ROOT/tests" "$ROOT/bench/extract_bench/make_corpus.cpp" -o "$WORK/bin/make_corpus"
# A small filler: the scaled pass, not the reading of big RAW files, is timed.
"$WORK/bin/make_corpus" "$SAMPLES" "$WORK/raw" "$COUNT" 1
rm -f "$WORK/raw/manifest.txt"

# The previews as plain JPEG files, for vipsthumbnail and the references
# (this run also warms the page cache).
"$VELTRANO" -q --jobs 1 --sizes native "$WORK/raw"
mv "$WORK/raw/extracted_jpegs" "$WORK/previews"
got=$(ls "$WORK/previews" | wc -l)
[[ "$got" == "$COUNT" ]] || { echo "scaled_bench: veltrano wrote $got of $COUNT previews" >&2; exit 1; }

python3 - "$VELTRANO" "$WORK" "$RUNS" "$BOX" "$(nproc)" "${BASELINE:-}" <<'EOF'
import glob, os, re, shutil, statistics, subprocess, sys, time

veltrano, work, runs, box, cores = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], int(sys.argv[5])
baseline = sys.argv[6]
raw, previews = os.path.join(work, "raw"), os.path.join(work, "previews")
jpegs = sorted(glob.glob(os.path.join(previews, "*.jpg")))
vips_out = os.path.join(work, "vips")

def veltrano_cmd(jobs, smaller, program=veltrano):
    cmd = [program, "-q", "--jobs", str(jobs), "--subfolders"]
    if smaller:
        cmd += ["--sizes", "smaller", "--max-width", box, "--max-height", box]
    else:
        cmd += ["--sizes", "native"]
    return cmd + [raw]

def clean():
    for d in glob.glob(os.path.join(raw, "extracted_jpegs*")) + [vips_out]:
        shutil.rmtree(d, ignore_errors=True)
    os.makedirs(vips_out)

vips_env = dict(os.environ, VIPS_CONCURRENCY="1")
commands = {
    "veltrano -j1 native": (veltrano_cmd(1, False), None),
    "veltrano -j1 smaller": (veltrano_cmd(1, True), None),
    "veltrano -j2 native": (veltrano_cmd(2, False), None),
    "veltrano -j2 smaller": (veltrano_cmd(2, True), None),
    "vipsthumbnail": (["vipsthumbnail", "-s", "%sx%s" % (box, box), "--no-rotate",
                       "-o", os.path.join(vips_out, "%s.jpg[Q=95]")] + jpegs, vips_env),
}
if baseline:
    commands["baseline -j1 native"] = (veltrano_cmd(1, False, baseline), None)
    commands["baseline -j1 smaller"] = (veltrano_cmd(1, True, baseline), None)

def run(cmd, env):
    clean()
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit("scaled_bench: %s failed" % " ".join(cmd[:4]))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0

names = list(commands)
walls = {n: [] for n in names}
cpus = {n: [] for n in names}
peak = {n: 0.0 for n in names}
print("== timing: %d interleaved repetitions of %d commands (%d cores)" % (runs, len(names), cores))
for rep in range(runs):
    order = names[rep % len(names):] + names[:rep % len(names)]
    for n in order:
        w, c, rss = run(*commands[n])
        walls[n].append(w)
        cpus[n].append(c)
        peak[n] = max(peak[n], rss)
    load = os.getloadavg()[0]
    print("   repetition %d done, load average %.1f" % (rep + 1, load))

med = {n: statistics.median(walls[n]) for n in names}
print("\n%-24s %9s %9s %9s %11s %10s" % ("command", "median s", "min s", "max s", "cpu med s", "peak MB"))
for n in names:
    print("%-24s %9.3f %9.3f %9.3f %11.3f %10.1f" % (n, med[n], min(walls[n]), max(walls[n]),
                                                     statistics.median(cpus[n]), peak[n]))

# Differences are taken per repetition (the runs of one repetition ran side
# by side), then the median of those. Wall time is the target; CPU time
# (user + system) shows the work done, which the load of a shared machine
# distorts less.
def pass_times(prefix, jobs, t=walls):
    return [s - n for s, n in zip(t["%s -j%d smaller" % (prefix, jobs)], t["%s -j%d native" % (prefix, jobs)])]
p1, p2 = pass_times("veltrano", 1), pass_times("veltrano", 2)
c1 = pass_times("veltrano", 1, cpus)
speed = statistics.median([a / b for a, b in zip(p1, walls["vipsthumbnail"])])
speed_cpu = statistics.median([a / b for a, b in zip(c1, cpus["vipsthumbnail"])])
scaling = statistics.median([b / a for a, b in zip(p1, p2)])
print("\nscaled pass, 1 worker:   %.3f s wall, %.3f s cpu (medians)" % (statistics.median(p1), statistics.median(c1)))
print("scaled pass, 2 workers:  %.3f s wall (median)" % statistics.median(p2))
print("vipsthumbnail:           %.3f s wall, %.3f s cpu (medians)" % (med["vipsthumbnail"],
                                                                      statistics.median(cpus["vipsthumbnail"])))
if baseline:
    b1 = pass_times("baseline", 1)
    print("baseline scaled pass:    %.3f s wall, %.3f s cpu (medians); ours / baseline %.2fx wall" %
          (statistics.median(b1), statistics.median(pass_times("baseline", 1, cpus)),
           statistics.median([a / b for a, b in zip(p1, b1)])))
print("ratio ours(1 worker) / vips:  %.2fx wall (%.2fx cpu)   target <= 0.8x: %s" %
      (speed, speed_cpu, "met" if speed <= 0.8 else "MISSED"))
print("ratio 2 workers / 1 worker:   %.2fx wall   target <= 0.6x: %s   (load average %.1f on %d cores)" %
      (scaling, "met" if scaling <= 0.6 else "MISSED", os.getloadavg()[0], cores))
print("peak memory, scaled run: %.1f MB (1 worker), %.1f MB (2 workers)" %
      (peak["veltrano -j1 smaller"], peak["veltrano -j2 smaller"]))

# ---- quality and file sizes, from one more run of each
def scaled_copies(program):
    clean()
    subprocess.run(veltrano_cmd(1, True, program), check=True)
    folder = os.path.join(work, os.path.basename(program) + "-copies-%d" % len(glob.glob(os.path.join(work, "*-copies-*"))))
    shutil.move(os.path.join(raw, "extracted_jpegs_%s" % box), folder)
    return {os.path.basename(p).split("_VLTR")[0]: p for p in glob.glob(os.path.join(folder, "*.jpg"))}
old = scaled_copies(baseline) if baseline else {}
ours = scaled_copies(veltrano)
clean()
subprocess.run(commands["vipsthumbnail"][0], env=vips_env, check=True)
refs = os.path.join(work, "refs")
os.makedirs(refs, exist_ok=True)

def size_of(path):
    out = subprocess.run(["vipsheader", "-f", "width", path], capture_output=True, text=True).stdout.strip()
    out2 = subprocess.run(["vipsheader", "-f", "height", path], capture_output=True, text=True).stdout.strip()
    return int(out), int(out2)

def psnr(a, b):
    r = subprocess.run(["compare", "-metric", "PSNR", a, b, "null:"], capture_output=True, text=True)
    return float(r.stderr.split()[0])

print("\n== quality: PSNR against ImageMagick Lanczos at 16 bits")
print("%-14s %11s %8s %8s %7s %11s" % ("file", "size", "ours dB", "vips dB", "diff", "baseline dB"))
diffs, forced_stems = [], []
ours_bytes = vips_bytes = 0
by_source = {}
for src in jpegs:
    stem = os.path.basename(src).split("_VLTR")[0]
    mine, theirs = ours.get(stem), os.path.join(vips_out, os.path.splitext(os.path.basename(src))[0] + ".jpg")
    if mine is None or not os.path.exists(theirs):
        sys.exit("scaled_bench: missing scaled copy for %s" % stem)
    ours_bytes += os.path.getsize(mine)
    vips_bytes += os.path.getsize(theirs)
    w, h = size_of(mine)
    forced = (w, h) != size_of(theirs)
    if forced:
        forced_stems.append(stem)
    # The same preview appears several times in the corpus: its reference is
    # made once.
    key = (os.path.getsize(src), w, h)
    if key not in by_source:
        if forced:
            # vips rounds where FitWithin truncates: its copy of this preview is
            # made again at our size (forced, "!") for the comparison.
            theirs = os.path.join(work, "vips-forced-%s.jpg" % stem)
            subprocess.run(["vipsthumbnail", "-s", "%dx%d!" % (w, h), "--no-rotate", "-o", theirs + "[Q=95]", src],
                           env=vips_env, check=True)
        ref = os.path.join(refs, "%s_%dx%d.png" % (stem, w, h))
        subprocess.run(["convert", src, "-depth", "16", "-filter", "Lanczos", "-resize", "%dx%d!" % (w, h),
                        "-depth", "16", ref], check=True)
        base = psnr(old[stem], ref) if stem in old else float("nan")
        by_source[key] = (ref, psnr(mine, ref), psnr(theirs, ref), base)
        mark = ""
    else:
        mark = " (same)"
    ref, a, b, base = by_source[key]
    diffs.append(a - b)
    if not mark:
        print("%-14s %11s %8.2f %8.2f %+7.2f %11.2f%s" % (stem, "%dx%d" % (w, h), a, b, a - b, base,
                                                     "  (vips forced to this size)" if forced else ""))
worst = min(diffs) if diffs else float("nan")
print("compared %d files (%d distinct previews); vips chose another size (rounding) and was forced to ours for "
      "%d: %s" % (len(diffs), len(by_source), len(forced_stems), " ".join(forced_stems) or "-"))
print("worst PSNR difference ours - vips: %+.2f dB   target >= -0.2 dB: %s" %
      (worst, "met" if worst >= -0.2 else "MISSED"))

# ---- file sizes: vips at 4:2:0 shows the cost of full-resolution chroma
sub = os.path.join(work, "vips420")
os.makedirs(sub, exist_ok=True)
subprocess.run(["vipsthumbnail", "-s", "%sx%s" % (box, box), "--no-rotate",
                "-o", os.path.join(sub, "%s.jpg[Q=95,subsample-mode=on]")] + jpegs, env=vips_env, check=True)
vips420 = sum(os.path.getsize(p) for p in glob.glob(os.path.join(sub, "*.jpg")))
print("\n== file sizes of the %d scaled copies" % len(jpegs))
print("ours (4:4:4, q95):          %10d bytes" % ours_bytes)
print("vips (4:4:4, q95):          %10d bytes" % vips_bytes)
print("vips forced to 4:2:0, q95:  %10d bytes  (4:4:4 costs %+.0f%%)" % (vips420, (vips_bytes / vips420 - 1) * 100))
if old:
    old_bytes = sum(os.path.getsize(p) for p in old.values())
    print("baseline copies:            %10d bytes  (ours %+.0f%%)" % (old_bytes, (ours_bytes / old_bytes - 1) * 100))
EOF

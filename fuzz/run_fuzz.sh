#!/usr/bin/env bash
# Builds and runs the probe fuzzer.
#
#   fuzz/run_fuzz.sh [SECONDS] [extra libFuzzer options...]     (default 600 s)
#
# Installs clang and its sanitizer/libFuzzer runtime from Debian's packages
# when they are missing. Seeds a working corpus (build-fuzz/corpus, kept
# between runs, never committed) from the shared RAW samples, the committed
# seeds and the saved regressions. Inputs that crash, leak or time out are
# written to fuzz/corpus/regressions/, which the hostile-input test replays.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-600}"
shift || true
out="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
samples="$root/../shared/samples/raw"
regressions="$root/fuzz/corpus/regressions"

can_build_fuzzer() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local probe_dir
  probe_dir="$(mktemp -d)"
  printf '%s\n' '#include <cstdint>' '#include <cstddef>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' > "$probe_dir/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$probe_dir/t.cpp" -o "$probe_dir/t" >/dev/null 2>&1
  local rc=$?
  rm -rf "$probe_dir"
  return $rc
}

if ! can_build_fuzzer; then
  echo "run_fuzz: installing clang and its fuzzer runtime from Debian's packages" >&2
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y clang
  # The runtime package carries the clang major version in its name.
  major="$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n1)"
  "${sudo_cmd[@]}" apt-get install -y "libclang-rt-${major}-dev" || "${sudo_cmd[@]}" apt-get install -y libclang-rt-dev
  can_build_fuzzer || { echo "run_fuzz: clang still cannot build a libFuzzer target" >&2; exit 1; }
fi

fuzzer="$("$root/fuzz/build.sh" "$out" | tail -n1)"

corpus="$out/corpus"
mkdir -p "$corpus" "$regressions"
if [[ -d "$samples" ]]; then
  cp -n "$samples"/* "$corpus"/ 2>/dev/null || true
else
  echo "run_fuzz: $samples is absent; seeding from fuzz/corpus only" >&2
fi
cp -n "$root"/fuzz/corpus/seeds/* "$corpus"/ 2>/dev/null || true
cp -n "$regressions"/* "$corpus"/ 2>/dev/null || true

echo "run_fuzz: fuzzing for ${seconds} s, corpus $corpus ($(ls "$corpus" | wc -l) inputs)" >&2
cd "$out"
exec "$fuzzer" "$corpus" \
  -max_total_time="$seconds" \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -max_len=65536 \
  -print_final_stats=1 \
  -close_fd_mask=2 \
  -dict="$root/fuzz/probe.dict" \
  -artifact_prefix="$regressions/" \
  "$@"

#!/usr/bin/env bash
# Builds the probe fuzzer with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer.
#
#   fuzz/build.sh [BUILD_DIR]      (default: build-fuzz at the repository root)
#
# Objects are rebuilt only when their source, a header of probe/ or
# platform/, or this script is newer. Prints the fuzzer's path last.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/build-fuzz}"
export FUZZ_CXX="${FUZZ_CXX:-clang++}"
jobs="${JOBS:-2}"
mkdir -p "$out/obj"

export FUZZ_ROOT="$root" FUZZ_OUT="$out"
export FUZZ_FLAGS="-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"

sources=("$root"/probe/*.cpp "$root/platform/native_path.cpp" "$root/platform/native_file_posix.cpp")
list="$(mktemp)"
trap 'rm -f "$list"' EXIT

# Library sources get coverage instrumentation without libFuzzer's main;
# at most $jobs compile at a time.
printf '%s\n' "${sources[@]}" | xargs -P "$jobs" -I{} bash -c '
  set -e
  src="$1"
  rel="${src#$FUZZ_ROOT/}"
  obj="$FUZZ_OUT/obj/${rel//\//_}.o"
  if [[ ! -f "$obj" || "$src" -nt "$obj" || "$FUZZ_ROOT/fuzz/build.sh" -nt "$obj" ||
        -n "$(find "$FUZZ_ROOT/probe" "$FUZZ_ROOT/platform" -name "*.h" -newer "$obj" -print -quit)" ]]; then
    $FUZZ_CXX $FUZZ_FLAGS -I "$FUZZ_ROOT" -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
  fi
  echo "$obj"
' _ {} > "$list"
mapfile -t objs < "$list"

# shellcheck disable=SC2086
$FUZZ_CXX $FUZZ_FLAGS -I "$root" -fsanitize=fuzzer "$root/fuzz/probe_fuzz.cpp" "${objs[@]}" -o "$out/probe_fuzz"
echo "$out/probe_fuzz"

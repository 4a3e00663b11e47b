#!/usr/bin/env bash
# Builds the probe fuzzer with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer.
#
#   fuzz/build.sh [BUILD_DIR]      (default: build-fuzz at the repository root)
#
# Objects are rebuilt only when their source, a header of probe/ or
# platform/, the version header, or this script is newer. Prints the fuzzer's path last.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/build-fuzz}"
export FUZZ_CXX="${FUZZ_CXX:-clang++}"
jobs="${JOBS:-2}"
mkdir -p "$out/obj" "$out/generated"

# The version header CMake generates, filled here from the same project line.
version="$(sed -n 's/^project(Veltrano VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
IFS=. read -r v_major v_minor v_patch v_tweak <<<"$version"
sed -e "s/@VELTRANO_VERSION_MAJOR@/$v_major/g" -e "s/@VELTRANO_VERSION_MINOR@/${v_minor:-0}/g" \
    -e "s/@VELTRANO_VERSION_PATCH@/${v_patch:-0}/g" -e "s/@VELTRANO_VERSION_TWEAK@/${v_tweak:-0}/g" \
    -e "s/@VELTRANO_VERSION_TEXT@/$version/g" "$root/cmake/veltrano_version.h.in" >"$out/generated/veltrano_version.h.new"
cmp -s "$out/generated/veltrano_version.h.new" "$out/generated/veltrano_version.h" ||
  mv "$out/generated/veltrano_version.h.new" "$out/generated/veltrano_version.h"
rm -f "$out/generated/veltrano_version.h.new"

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
  if [[ ! -f "$obj" || "$src" -nt "$obj" || "$FUZZ_ROOT/fuzz/build.sh" -nt "$obj" || "$FUZZ_OUT/generated/veltrano_version.h" -nt "$obj" ||
        -n "$(find "$FUZZ_ROOT/probe" "$FUZZ_ROOT/platform" -name "*.h" -newer "$obj" -print -quit)" ]]; then
    $FUZZ_CXX $FUZZ_FLAGS -I "$FUZZ_ROOT" -I "$FUZZ_OUT/generated" -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
  fi
  echo "$obj"
' _ {} > "$list"
mapfile -t objs < "$list"

# shellcheck disable=SC2086
$FUZZ_CXX $FUZZ_FLAGS -I "$root" -I "$out/generated" -fsanitize=fuzzer "$root/fuzz/probe_fuzz.cpp" "${objs[@]}" -o "$out/probe_fuzz"
echo "$out/probe_fuzz"

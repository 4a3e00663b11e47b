// libFuzzer target over the probe's two entry points. Each input is written
// to one file per process (in /dev/shm when it exists, so no disk is worn),
// then probed exactly as the extraction job probes a camera file.
//
// Beyond the sanitizers, the target traps on answers that cannot be right:
// a buffer with a failure answer, a success without a buffer or with a
// buffer that does not start with a start-of-image marker, a buffer longer
// than the input plus the inserted Exif segment, bytes that do not come from
// the input, or extraction succeeding where the yes/no question said no.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "probe/probe.h"

namespace {

constexpr std::size_t kInsertedSegment = 1386;

const std::string& input_path() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/veltrano-fuzz-" + std::to_string(getpid()) + ".raw";
  }();
  return path;
}

void remove_input() { std::remove(input_path().c_str()); }

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "probe_fuzz: %s\n", what);
  std::fflush(stderr);
  __builtin_trap();
}

bool write_input(const std::uint8_t* data, std::size_t size) {
  std::FILE* out = std::fopen(input_path().c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(data, 1, size, out) == size;
  return std::fclose(out) == 0 && ok;
}

// True when needle occurs in haystack.
bool contains(const std::uint8_t* haystack, std::size_t hay_len, const std::uint8_t* needle, std::size_t len) {
  if (len == 0) return true;
  return memmem(haystack, hay_len, needle, len) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(remove_input);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!write_input(data, size)) return 0;
  const NativePath path = native_path(input_path());

  const int has = probe_has_jpeg_preview(path);
  if (has != 0 && has != 1) fault("probe_has_jpeg_preview answered neither 0 nor 1");

  unsigned char* buffer = nullptr;
  std::uint32_t length = 0, rotated = 0;
  const int extracted = probe_extract_jpeg_preview(path, kVeltranoSoftware, &buffer, &length, &rotated);
  if (extracted != 1) {
    if (extracted != 0) fault("probe_extract_jpeg_preview answered neither 0 nor 1");
    if (buffer != nullptr) fault("buffer returned with a failure answer");
    return 0;
  }
  if (has != 1) fault("extraction succeeded where probe_has_jpeg_preview said no");
  if (buffer == nullptr) fault("success without a buffer");
  if (length < 2 || buffer[0] != 0xFF || buffer[1] != 0xD8) fault("buffer does not start FF D8");
  if (rotated > 1) fault("rotated is neither 0 nor 1");
  if (length > size + kInsertedSegment) fault("buffer longer than the input plus the Exif segment");
  // Touch the last claimed byte: the address sanitizer reports a buffer
  // shorter than its length.
  volatile unsigned char last = buffer[length - 1];
  (void)last;

  // Everything after the marker comes from the input, either right after it
  // or behind an inserted segment.
  const bool inserted = length >= kInsertedSegment + 2 &&
                        std::memcmp(buffer + 2, "\xFF\xE1\x05\x68" "Exif\0\0", 10) == 0 &&
                        contains(data, size, buffer + 1388, length - 1388);
  const bool as_stored = contains(data, size, buffer + 2, length - 2);
  if (!inserted && !as_stored) fault("preview bytes that the input does not hold");

  std::free(buffer);
  return 0;
}

// libFuzzer target over the probe's two entry points. Each input is written
// to one file per process (in /dev/shm when it exists, so no disk is worn),
// then probed exactly as the extraction job probes a camera file.
//
// Beyond the sanitizers, the target traps on answers that cannot be right:
// a buffer with a failure answer, a success without a buffer or with a
// buffer that does not start with a start-of-image marker, a buffer longer
// than the input plus the inserted Exif segment, bytes that do not come from
// the input, or extraction succeeding where the yes/no question said no.
// The full Exif option must succeed exactly where the basic one does, give
// one Exif segment whose directories and values all lie inside it, and end
// with the same preview bytes.

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

// Checks the TIFF structure of an Exif segment: every directory reached
// from IFD0 and every value held outside an entry lies inside the segment.
bool exif_structure_is_sound(const std::uint8_t* t, std::size_t n) {
  if (n < 8) return false;
  const bool little = t[0] == 'I';
  if (t[0] != t[1] || (t[0] != 'I' && t[0] != 'M')) return false;
  auto u16 = [&](std::size_t at) { return little ? t[at] | t[at + 1] << 8 : t[at] << 8 | t[at + 1]; };
  auto u32 = [&](std::size_t at) {
    return little ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                  : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
  };
  static constexpr unsigned kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  std::uint32_t pending[8] = {u32(4)};
  int count = 1, visited = 0;
  while (count > 0) {
    if (++visited > 4) return false;  // IFD0, Exif, GPS and Interop at most
    const std::uint32_t dir = pending[--count];
    if (dir < 8 || std::uint64_t{dir} + 2 > n) return false;
    const unsigned entries = u16(dir);
    if (std::uint64_t{dir} + 2 + 12 * entries + 4 > n) return false;
    for (unsigned i = 0; i < entries; ++i) {
      const std::size_t e = dir + 2 + 12 * i;
      const unsigned tag = u16(e), type = u16(e + 2);
      const std::uint32_t items = u32(e + 4);
      if (type == 0 || type > 12) return false;
      const std::uint64_t size = std::uint64_t{items} * kSizes[type];
      if (size > 4 && u32(e + 8) + size > n) return false;
      if ((tag == 34665 || tag == 34853 || tag == 40965) && count < 8) pending[count++] = u32(e + 8);
    }
  }
  return true;
}

// The full Exif extraction, checked against the basic one.
void check_full_exif(const NativePath& path, const std::uint8_t* data, std::size_t size, int basic_answer) {
  unsigned char* buffer = nullptr;
  std::uint32_t length = 0, rotated = 0;
  const int answer = probe_extract_jpeg_preview(path, kVeltranoSoftware, &buffer, &length, &rotated, ExifMode::full);
  if (answer != basic_answer) fault("full Exif answered otherwise than basic");
  if (answer != 1) {
    if (buffer != nullptr) fault("full Exif: buffer returned with a failure answer");
    return;
  }
  if (length < 2 || buffer[0] != 0xFF || buffer[1] != 0xD8) fault("full Exif: buffer does not start FF D8");
  if (length > size + 2 + 65537) fault("full Exif: buffer longer than the input plus one segment");
  // Every byte but those of the new Exif segment comes from the input: the
  // segments before it, and the rest of the preview after it.
  std::size_t p = 2;
  while (p + 10 <= length && buffer[p] == 0xFF && buffer[p + 1] != 0xDA) {
    const std::size_t segment = 2 + (std::size_t{buffer[p + 2]} << 8 | buffer[p + 3]);
    if (p + segment > length) break;
    if (buffer[p + 1] == 0xE1 && std::memcmp(buffer + p + 4, "Exif\0\0", 6) == 0 &&
        !contains(data, size, buffer + p, segment)) {
      if (!exif_structure_is_sound(buffer + p + 10, segment - 10))
        fault("full Exif: the segment's structure points outside it");
      // Each later segment, then the scan on, as the input holds them.
      std::size_t q = p + segment;
      while (q + 4 <= length && buffer[q] == 0xFF && buffer[q + 1] != 0x01 && buffer[q + 1] != 0xDA &&
             buffer[q + 1] != 0xD8 && buffer[q + 1] != 0xD9 && (buffer[q + 1] < 0xD0 || buffer[q + 1] > 0xD7) &&
             buffer[q + 1] != 0xFF) {
        const std::size_t next = 2 + (std::size_t{buffer[q + 2]} << 8 | buffer[q + 3]);
        if (next < 4 || q + next > length || !contains(data, size, buffer + q, next)) break;
        q += next;
      }
      if (!contains(data, size, buffer + q, length - q))
        fault("full Exif: preview bytes after the segment that the input does not hold");
      break;
    }
    p += segment;
  }
  std::free(buffer);
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
  const int extracted = probe_extract_jpeg_preview(path, kVeltranoSoftware, &buffer, &length, &rotated, ExifMode::basic);
  if (extracted != 1) {
    if (extracted != 0) fault("probe_extract_jpeg_preview answered neither 0 nor 1");
    if (buffer != nullptr) fault("buffer returned with a failure answer");
    check_full_exif(path, data, size, extracted);
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

  check_full_exif(path, data, size, extracted);
  std::free(buffer);
  return 0;
}

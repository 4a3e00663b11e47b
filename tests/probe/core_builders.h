// Builders for the probe-core tests: TIFF structures with out-of-line
// values placed after each directory, tiny baseline JPEG streams, and temp
// files for the entry points.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/native_path.h"
#include "support/scratch_folder.h"
#include "probe/probe.h"
#include "probe/readers.h"
#include "support/byte_writer.h"
#include "support/probe_fixture.h"

namespace core_test {

using Bytes = std::vector<std::uint8_t>;

// One directory entry: its value bytes in file order (any length; four
// bytes or fewer lie in the entry, more go after the directory).
struct Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  Bytes value;
};

class Tiff {
 public:
  explicit Tiff(bool little = true, std::uint32_t first_dir = 8) : little_(little), w_(little) {
    w_.text(little ? "II" : "MM").u16(42).u32(first_dir);
    w_.pad_to(first_dir);
  }

  bool little() const { return little_; }
  Bytes& bytes() { return w_.bytes(); }
  std::size_t size() const { return w_.size(); }

  Bytes enc16(std::uint16_t v) const {
    return little_ ? Bytes{std::uint8_t(v), std::uint8_t(v >> 8)} : Bytes{std::uint8_t(v >> 8), std::uint8_t(v)};
  }
  Bytes enc32(std::uint32_t v) const {
    Bytes b(4);
    for (int i = 0; i < 4; ++i) b[i] = std::uint8_t(v >> (little_ ? 8 * i : 8 * (3 - i)));
    return b;
  }

  Entry short_(std::uint16_t tag, std::uint16_t v) const { return {tag, 3, 1, enc16(v)}; }
  Entry long_(std::uint16_t tag, std::uint32_t v) const { return {tag, 4, 1, enc32(v)}; }
  Entry ascii(std::uint16_t tag, const std::string& s) const {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return {tag, 2, static_cast<std::uint32_t>(b.size()), b};
  }
  Entry rational(std::uint16_t tag, std::uint32_t num, std::uint32_t den, std::uint16_t type = 5) const {
    Bytes b = enc32(num);
    Bytes d = enc32(den);
    b.insert(b.end(), d.begin(), d.end());
    return {tag, type, 1, b};
  }
  Entry raw(std::uint16_t tag, std::uint16_t type, std::uint32_t count, Bytes value) const {
    return {tag, type, count, std::move(value)};
  }

  struct Dir {
    std::size_t at = 0;
    std::vector<std::size_t> value_field;  // position of each entry's 4-byte value field
    std::size_t next_field = 0;
  };

  // Writes a directory at the current end (even position) and the values
  // that do not fit their entries right after it.
  Dir dir(const std::vector<Entry>& entries, std::uint32_t next = 0) {
    if (w_.size() & 1) w_.u8(0);
    Dir d;
    d.at = w_.size();
    w_.u16(static_cast<std::uint16_t>(entries.size()));
    std::vector<std::size_t> pending;
    for (const Entry& e : entries) {
      w_.u16(e.tag).u16(e.type).u32(e.count);
      d.value_field.push_back(w_.size());
      Bytes field = e.value.size() <= 4 ? e.value : Bytes{};
      field.resize(4, 0);
      w_.raw(field);
    }
    d.next_field = w_.size();
    w_.u32(next);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].value.size() <= 4) continue;
      if (w_.size() & 1) w_.u8(0);
      w_.put_u32_at(d.value_field[i], static_cast<std::uint32_t>(w_.size()));
      w_.raw(entries[i].value);
    }
    return d;
  }

  std::uint32_t append(const Bytes& b) {
    if (w_.size() & 1) w_.u8(0);
    auto at = static_cast<std::uint32_t>(w_.size());
    w_.raw(b);
    return at;
  }
  void patch32(std::size_t at, std::uint32_t v) { w_.put_u32_at(at, v); }
  void patch16(std::size_t at, std::uint16_t v) { w_.put_u16_at(at, v); }
  std::uint32_t here() {
    if (w_.size() & 1) w_.u8(0);
    return static_cast<std::uint32_t>(w_.size());
  }

 private:
  bool little_;
  ByteWriter w_;
};

// A baseline JPEG stream: SOI, an optional application segment, a frame
// header (8 bits, `colours` components), a scan header, `body` filler bytes
// and EOI.
enum class JpegApp { kNone, kJfif, kExif };

inline Bytes make_jpeg(int width, int height, int colours, JpegApp app = JpegApp::kNone,
                       const Bytes& exif_tiff = {}, std::size_t body = 64, std::uint8_t seed = 0x11) {
  ByteWriter w(false);
  w.u8(0xFF).u8(0xD8);
  if (app == JpegApp::kJfif) {
    w.u8(0xFF).u8(0xE0).u16(16).text("JFIF").u8(0).u8(1).u8(1).u8(0).u16(1).u16(1).u8(0).u8(0);
  } else if (app == JpegApp::kExif) {
    w.u8(0xFF).u8(0xE1).u16(static_cast<std::uint16_t>(2 + 6 + exif_tiff.size())).text("Exif").u8(0).u8(0);
    w.raw(exif_tiff);
  }
  w.u8(0xFF).u8(0xC0).u16(static_cast<std::uint16_t>(8 + 3 * colours)).u8(8);
  w.u16(static_cast<std::uint16_t>(height)).u16(static_cast<std::uint16_t>(width)).u8(static_cast<std::uint8_t>(colours));
  for (int c = 0; c < colours; ++c) w.u8(static_cast<std::uint8_t>(c + 1)).u8(0x11).u8(0);
  w.u8(0xFF).u8(0xDA).u16(static_cast<std::uint16_t>(6 + 2 * colours)).u8(static_cast<std::uint8_t>(colours));
  for (int c = 0; c < colours; ++c) w.u8(static_cast<std::uint8_t>(c + 1)).u8(0);
  w.u8(0).u8(63).u8(0);
  std::uint8_t x = seed;
  for (std::size_t i = 0; i < body; ++i) {
    x = static_cast<std::uint8_t>(x * 5 + 1);
    w.u8(x == 0xFF ? 0x7F : x);
  }
  w.u8(0xFF).u8(0xD9);
  return w.bytes();
}

// A file in the test's temporary folder, removed with the object.
class TempFile {
 public:
  TempFile(const std::string& name, const Bytes& bytes) {
    // The process number keeps test programs that run at once (other builds
    // of the suite too) off each other's files.
    path_ = std::filesystem::path(testing::TempDir()) / ("veltrano_core_" + std::to_string(VLTR_TEST_PID) + "_" + name);
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  NativePath native() const { return path_.native(); }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// A whole file in one block read (empty when it cannot be read).
inline Bytes read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes b(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return b;
}

// Result of probe_extract_jpeg_preview with the buffer copied out.
struct Extracted {
  int ok = 0;
  Bytes data;
  std::uint32_t length = 0;
  std::uint32_t rotated = 0;
  bool buffer_null = false;
};

// The basic Exif unless told otherwise: the cases written for it keep it.
inline Extracted extract(const NativePath& path, const char* software = kVeltranoSoftware,
                         ExifMode mode = ExifMode::basic) {
  Extracted r;
  unsigned char* buffer = reinterpret_cast<unsigned char*>(0x1);  // must be replaced
  r.length = 0xDEADBEEF;
  r.rotated = 0xDEADBEEF;
  r.ok = probe_extract_jpeg_preview(path, software, &buffer, &r.length, &r.rotated, mode);
  r.buffer_null = buffer == nullptr;
  if (r.ok && buffer) {
    r.data.assign(buffer, buffer + r.length);
    std::free(buffer);
  }
  return r;
}

// Runs the top-level probe over in-memory bytes.
inline void probe_bytes(ScopedProbe&) { run_probe(); }

inline std::uint64_t fnv1a(const std::uint8_t* p, std::size_t n) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

// Host-order readers over the inserted Exif block.
inline std::uint16_t host16(const Bytes& b, std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}
inline std::uint32_t host32(const Bytes& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

}  // namespace core_test

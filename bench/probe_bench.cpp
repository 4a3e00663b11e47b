// Cost of the probe's two entry points next to the plain file reads they
// cannot avoid, measured side by side in one run, single thread, on files
// that sit in the page cache.
//
//   has_jpeg_preview        probe_has_jpeg_preview on one file
//   open_read64k_close      open the same file, read its first 64 KiB, close
//   extract_exif_preview    probe_extract_jpeg_preview + free, preview that
//                           carries its own Exif (returned as stored)
//   read_exif_preview       open, read the same preview bytes at the same
//                           offset into a fresh heap buffer, free, close
//   extract_bare_preview    as above for previews without Exif (the probe
//   read_bare_preview       inserts its Exif segment)
//
// The plain reads use the same file layer as the probe (NativeFile:
// open + fstat, pread, close on POSIX).
//
// The files are built in a temporary folder from the camera JPEGs of the
// shared samples: a TIFF structure like a camera's, with IFD0 holding make,
// model, time, orientation and the JPEG preview of a few megabytes, an Exif
// directory of about thirty tags with a maker-note directory, and a SubIFD
// with a raw strip of several megabytes after the preview. Without the
// samples, a synthetic JPEG-structured payload of the same size stands in.
//
// Canon CR3 files, whose preview is the full-size JPEG of their first track
// (stored without Exif, so the probe inserts its segment), are timed against
// the copy limit:
//   extract_cr3_write       probe_extract_jpeg_preview, write the buffer to a
//                           new file, free
//   copy_cr3_preview        open, read the same preview bytes into a fresh
//                           heap buffer, write them to a new file, free, close
//
// Repetitions are randomly interleaved so that a slow spell of the machine
// does not fall on one side of a ratio; the summary uses medians.
//
// Last, the input the probe reads from a file it has no use for: a 1 GB
// AVI video of 20,000 chunks (a sparse file), walked chunk header by chunk
// header. Printed as reads and bytes, with the target of at most 20 MB.
// And what the probe and a full-Exif extraction read of a 0.8 MB TIFF
// whose Exif directory of 65,535 entries, with its values at the end of the
// file, IFD0 points at three times: at most 4 times the file plus 1 MB.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/native_file.h"
#include "platform/native_path.h"
#include "probe/probe.h"
#include "tests/probe/cr3_builder.h"
#include "support/sparse_avi.h"
#include "support/wide_directory.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFilesPerKind = 24;               // files with Exif previews, and as many without
constexpr std::size_t kRawStripBytes = 4u << 20;  // raw data after the preview
constexpr std::size_t kHeadBytes = 64 * 1024;

struct BenchFile {
  NativePath path;
  std::uint32_t preview_offset = 0;
  std::uint32_t preview_length = 0;
  bool preview_has_exif = false;
};

std::vector<BenchFile> g_all, g_exif, g_bare;

// ---- building the files -------------------------------------------------

std::vector<std::uint8_t> read_whole(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct JpegInfo {
  unsigned width = 0, height = 0;
  bool has_exif = false;
};

// Walks the markers up to the scan: frame size, and whether an Exif APP1
// segment comes first after the start-of-image marker.
JpegInfo inspect_jpeg(const std::vector<std::uint8_t>& j) {
  JpegInfo info;
  info.has_exif = j.size() > 11 && j[2] == 0xFF && j[3] == 0xE1 && std::memcmp(&j[6], "Exif\0", 5) == 0;
  std::size_t p = 2;
  while (p + 4 <= j.size() && j[p] == 0xFF) {
    unsigned marker = j[p + 1];
    std::size_t len = (j[p + 2] << 8) | j[p + 3];
    if (marker == 0xDA) break;
    if ((marker == 0xC0 || marker == 0xC1 || marker == 0xC2) && p + 9 <= j.size()) {
      info.height = (j[p + 5] << 8) | j[p + 6];
      info.width = (j[p + 7] << 8) | j[p + 8];
    }
    p += 2 + len;
  }
  return info;
}

// The same JPEG without its APP1 segments (Exif, XMP): what many cameras
// store as the preview of their RAW files.
std::vector<std::uint8_t> strip_app1(const std::vector<std::uint8_t>& j) {
  std::vector<std::uint8_t> out(j.begin(), j.begin() + 2);
  std::size_t p = 2;
  while (p + 4 <= j.size() && j[p] == 0xFF) {
    unsigned marker = j[p + 1];
    std::size_t len = (j[p + 2] << 8) | j[p + 3];
    if (marker == 0xDA) break;
    if (marker != 0xE1) out.insert(out.end(), j.begin() + p, j.begin() + std::min(j.size(), p + 2 + len));
    p += 2 + len;
  }
  out.insert(out.end(), j.begin() + std::min(p, j.size()), j.end());
  return out;
}

// A JPEG-structured stand-in when the camera samples are absent: the probe
// reads only markers, never the entropy-coded data.
std::vector<std::uint8_t> synthetic_jpeg(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  const std::uint8_t sof[] = {0xFF, 0xC0, 0, 17, 8, 0x07, 0x80, 0x0A, 0x00, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
  j.insert(j.end(), std::begin(sof), std::end(sof));
  const std::uint8_t sos[] = {0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
  j.insert(j.end(), std::begin(sos), std::end(sos));
  std::mt19937 rng(seed);
  while (j.size() + 2 < size) j.push_back(static_cast<std::uint8_t>(rng() % 0xFF));  // never 0xFF
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

class TiffWriter {
 public:
  std::vector<std::uint8_t> data;

  void u16(unsigned v) { data.insert(data.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(std::uint8_t(v >> (8 * i)));
  }
  void put_u32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data[at + i] = std::uint8_t(v >> (8 * i));
  }
  void align(std::size_t a) {
    while (data.size() % a) data.push_back(0);
  }
  std::uint32_t blob(const void* p, std::size_t n) {
    align(2);
    auto at = static_cast<std::uint32_t>(data.size());
    auto* b = static_cast<const std::uint8_t*>(p);
    data.insert(data.end(), b, b + n);
    return at;
  }

  struct Entry {
    unsigned tag, type;
    std::uint32_t count;
    std::vector<std::uint8_t> value;  // packed little-endian
    std::int64_t placed_at = -1;      // value already in the file at this offset
  };
  static Entry placed(unsigned tag, unsigned type, std::uint32_t count, std::uint32_t offset) {
    Entry e{tag, type, count, {}};
    e.placed_at = offset;
    return e;
  }
  static Entry shorts(unsigned tag, std::vector<unsigned> v) {
    Entry e{tag, 3, std::uint32_t(v.size()), {}};
    for (unsigned x : v) e.value.insert(e.value.end(), {std::uint8_t(x), std::uint8_t(x >> 8)});
    return e;
  }
  static Entry longs(unsigned tag, std::vector<std::uint32_t> v) {
    Entry e{tag, 4, std::uint32_t(v.size()), {}};
    for (auto x : v)
      for (int i = 0; i < 4; ++i) e.value.push_back(std::uint8_t(x >> (8 * i)));
    return e;
  }
  static Entry rational(unsigned tag, std::uint32_t n, std::uint32_t d, unsigned type = 5) {
    Entry e = longs(tag, {n, d});
    e.type = type;
    e.count = 1;
    return e;
  }
  static Entry ascii(unsigned tag, const std::string& s) {
    Entry e{tag, 2, std::uint32_t(s.size() + 1), std::vector<std::uint8_t>(s.begin(), s.end())};
    e.value.push_back(0);
    return e;
  }
  static Entry undefined(unsigned tag, std::vector<std::uint8_t> v) {
    Entry e{tag, 7, std::uint32_t(v.size()), std::move(v)};
    return e;
  }

  // Writes a directory at the end (values that do not fit follow it);
  // returns its offset and the positions of the value fields by tag.
  std::uint32_t directory(const std::vector<Entry>& entries, std::map<unsigned, std::size_t>* fields = nullptr) {
    align(2);
    auto at = static_cast<std::uint32_t>(data.size());
    u16(static_cast<unsigned>(entries.size()));
    std::vector<std::size_t> value_pos;
    for (const auto& e : entries) {
      u16(e.tag);
      u16(e.type);
      u32(e.count);
      value_pos.push_back(data.size());
      u32(0);
    }
    u32(0);  // no next directory
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& e = entries[i];
      if (fields) (*fields)[e.tag] = value_pos[i];
      if (e.placed_at >= 0) {
        put_u32(value_pos[i], static_cast<std::uint32_t>(e.placed_at));
      } else if (e.value.size() <= 4) {
        std::memcpy(&data[value_pos[i]], e.value.data(), e.value.size());
      } else {
        put_u32(value_pos[i], blob(e.value.data(), e.value.size()));
      }
    }
    return at;
  }
};

// One camera-like file around `preview`; returns where the preview sits.
BenchFile write_camera_file(const fs::path& path, const std::vector<std::uint8_t>& preview, unsigned index) {
  using W = TiffWriter;
  static const char* const kModels[][2] = {
      {"Canon", "Canon EOS 350D DIGITAL"}, {"NIKON CORPORATION", "NIKON D70"},
      {"PENTAX Corporation", "PENTAX *ist D"}, {"OLYMPUS IMAGING CORP.", "E-20"},
  };
  const auto& names = kModels[index % 4];
  const JpegInfo info = inspect_jpeg(preview);

  TiffWriter w;
  w.data = {'I', 'I', 42, 0, 8, 0, 0, 0};

  // Maker note: a plain directory of camera settings, as several makers write.
  std::vector<W::Entry> note;
  for (unsigned t = 1; t <= 24; ++t) {
    std::vector<unsigned> values(t % 3 == 0 ? 20 : 2, t * 11);
    note.push_back(W::shorts(t, values));
  }
  // Laid out first, in place, so the Exif directory can point at it; its
  // own value offsets count from the start of the file, as Canon's do.
  const std::uint32_t note_at = w.directory(note);
  const auto note_size = static_cast<std::uint32_t>(w.data.size() - note_at);

  std::vector<W::Entry> exif = {
      W::rational(33434, 1, 250),
      W::rational(33437, 56, 10),
      W::shorts(34850, {2}),
      W::shorts(34855, {400}),
      W::undefined(36864, {'0', '2', '2', '1'}),
      W::ascii(36867, "2010:06:01 12:30:00"),
      W::ascii(36868, "2010:06:01 12:30:00"),
      W::undefined(37121, {1, 2, 3, 0}),
      W::rational(37377, 8, 1, 10),
      W::rational(37378, 5, 1),
      W::rational(37380, 0, 3, 10),
      W::rational(37381, 4, 1),
      W::shorts(37383, {5}),
      W::shorts(37385, {16}),
      W::rational(37386, 50, 1),
      W::placed(37500, 7, note_size, note_at),
      W::undefined(37510, std::vector<std::uint8_t>(264, 0)),
      W::ascii(37520, "00"),
      W::ascii(37521, "00"),
      W::undefined(40960, {'0', '1', '0', '0'}),
      W::shorts(40961, {1}),
      W::longs(40962, {info.width}),
      W::longs(40963, {info.height}),
      W::rational(41486, 3072000, 874),
      W::rational(41487, 2048000, 582),
      W::shorts(41488, {2}),
      W::shorts(41495, {2}),
      W::shorts(41985, {0}),
      W::shorts(41986, {0}),
      W::shorts(41987, {0}),
      W::shorts(41990, {0}),
      W::ascii(42033, "0123456789"),
      W::ascii(42036, "EF-S18-55mm f/3.5-5.6"),
  };
  const std::uint32_t exif_at = w.directory(exif);

  // IFD0 comes next; strip offsets are patched once the data is placed.
  std::map<unsigned, std::size_t> ifd0_fields;
  const std::vector<W::Entry> ifd0 = {
      W::longs(254, {1}),
      W::shorts(256, {info.width}),
      W::shorts(257, {info.height}),
      W::shorts(258, {8, 8, 8}),
      W::shorts(259, {6}),
      W::ascii(271, names[0]),
      W::ascii(272, names[1]),
      W::longs(273, {0}),
      W::shorts(274, {index % 2 ? 6u : 1u}),
      W::longs(279, {static_cast<std::uint32_t>(preview.size())}),
      W::rational(282, 72, 1),
      W::rational(283, 72, 1),
      W::shorts(296, {2}),
      W::ascii(305, "Firmware 1.0.3"),
      W::ascii(306, "2010:06:01 12:30:00"),
      W::ascii(315, "Veltrano benchmark"),
      W::longs(330, {0}),
      W::longs(34665, {exif_at}),
  };
  const std::uint32_t ifd0_at = w.directory(ifd0, &ifd0_fields);
  w.put_u32(4, ifd0_at);

  // Raw SubIFD: 2048 x 1366 samples of 12 bits, uncompressed.
  std::map<unsigned, std::size_t> raw_fields;
  const std::uint32_t raw_dir_at = w.directory(
      {W::longs(254, {0}), W::longs(256, {2048}), W::longs(257, {1366}), W::shorts(258, {12}),
       W::shorts(259, {1}), W::shorts(262, {32803}), W::longs(273, {0}), W::shorts(277, {1}),
       W::longs(279, {static_cast<std::uint32_t>(kRawStripBytes)})},
      &raw_fields);
  w.put_u32(ifd0_fields[330], raw_dir_at);

  // The preview, then the raw strip.
  w.align(4096);
  BenchFile f;
  f.path = native_path(path);
  f.preview_offset = static_cast<std::uint32_t>(w.data.size());
  f.preview_length = static_cast<std::uint32_t>(preview.size());
  f.preview_has_exif = info.has_exif;
  w.data.insert(w.data.end(), preview.begin(), preview.end());
  w.put_u32(ifd0_fields[273], f.preview_offset);
  w.align(4096);
  w.put_u32(raw_fields[273], static_cast<std::uint32_t>(w.data.size()));

  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(w.data.data()), static_cast<std::streamsize>(w.data.size()));
  // Raw samples: noise, made once (the probe never reads them).
  static const std::vector<char> raw = [] {
    std::vector<char> r(kRawStripBytes);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto& b : r) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      b = static_cast<char>(x);
    }
    return r;
  }();
  out.write(raw.data(), static_cast<std::streamsize>(raw.size()));
  return f;
}

fs::path g_dir;

std::vector<BenchFile> g_cr3;

// CR3 files around the camera JPEGs: the JPEG without its Exif is the first
// track's sample, with a small PRVW and THMB beside it.
bool build_cr3_files(const std::vector<std::vector<std::uint8_t>>& previews) {
  for (int i = 0; i < kFilesPerKind; ++i) {
    cr3_test::Cr3Parts parts;
    parts.full_size = strip_app1(previews[i % previews.size()]);
    parts.preview = synthetic_jpeg(240u << 10, static_cast<unsigned>(i));
    parts.thumbnail = synthetic_jpeg(12u << 10, static_cast<unsigned>(i));
    const std::vector<std::uint8_t> file = cr3_test::build_cr3(parts);
    BenchFile f;
    const fs::path path = g_dir / ("camera-" + std::to_string(i) + ".cr3");
    f.path = native_path(path);
    f.preview_length = static_cast<std::uint32_t>(parts.full_size.size());
    f.preview_offset = static_cast<std::uint32_t>(file.size() - parts.full_size.size());  // mdat comes last
    f.preview_has_exif = false;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();
    if (probe_has_jpeg_preview(f.path) != 1) {
      std::fprintf(stderr, "probe finds no JPEG preview in %s\n", path.c_str());
      return false;
    }
    g_cr3.push_back(f);
  }
  return true;
}

bool build_files() {
  g_dir = fs::temp_directory_path() / ("veltrano-probe-bench-" + std::to_string(::getpid()));
  fs::create_directories(g_dir);

  std::vector<std::vector<std::uint8_t>> previews;
  const fs::path jpegs = fs::path(VELTRANO_SAMPLES_DIR) / "camera-jpeg";
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(jpegs, ec)) {
    if (e.path().extension() == ".jpg" && e.file_size() >= (1u << 20)) previews.push_back(read_whole(e.path()));
  }
  if (previews.empty()) {
    std::printf("camera JPEGs not found in %s: using synthetic 3 MB JPEG payloads\n", jpegs.c_str());
    for (unsigned i = 0; i < 4; ++i) previews.push_back(synthetic_jpeg(3u << 20, i));
  }
  std::sort(previews.begin(), previews.end(), [](auto& a, auto& b) { return a.size() > b.size(); });

  std::uint64_t total = 0, preview_bytes = 0;
  for (int i = 0; i < kFilesPerKind; ++i) {
    const auto& jpeg = previews[i % previews.size()];
    std::vector<std::uint8_t> with_exif = jpeg;
    if (!inspect_jpeg(with_exif).has_exif) continue;  // every camera sample has one; keep the sets honest
    BenchFile a = write_camera_file(g_dir / ("exif-" + std::to_string(i) + ".cr2"), with_exif, i);
    BenchFile b = write_camera_file(g_dir / ("bare-" + std::to_string(i) + ".cr2"), strip_app1(jpeg), i + 1);
    g_exif.push_back(a);
    g_bare.push_back(b);
    preview_bytes += a.preview_length + b.preview_length;
  }
  if (g_exif.empty()) {
    // Synthetic payloads carry no Exif: only the bare set exists.
    for (int i = 0; i < kFilesPerKind; ++i) {
      const auto& jpeg = previews[i % previews.size()];
      g_bare.push_back(write_camera_file(g_dir / ("bare-" + std::to_string(i) + ".cr2"), jpeg, i));
      preview_bytes += jpeg.size();
    }
  }
  g_all = g_exif;
  g_all.insert(g_all.end(), g_bare.begin(), g_bare.end());
  if (!build_cr3_files(previews)) return false;

  // Warm the page cache and check that the probe sees every preview.
  std::vector<char> sink(1 << 20);
  for (const auto& f : g_all) {
    std::ifstream in(f.path, std::ios::binary);
    while (in.read(sink.data(), static_cast<std::streamsize>(sink.size())) || in.gcount() > 0) total += in.gcount();
    if (probe_has_jpeg_preview(f.path) != 1) {
      std::fprintf(stderr, "probe finds no JPEG preview in %s\n", f.path.c_str());
      return false;
    }
  }
  std::printf("%zu files (%zu with Exif previews, %zu without) in %s: %.1f MB, previews %.2f MB on average\n",
              g_all.size(), g_exif.size(), g_bare.size(), g_dir.c_str(), total / 1e6,
              preview_bytes / 1e6 / static_cast<double>(g_all.size()));
  return true;
}

// ---- benchmarks ----------------------------------------------------------

void BM_has_jpeg_preview(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& f = g_all[i++ % g_all.size()];
    int answer = probe_has_jpeg_preview(f.path);
    benchmark::DoNotOptimize(answer);
    if (answer != 1) {
      state.SkipWithError("no preview found");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_open_read64k_close(benchmark::State& state) {
  std::vector<std::uint8_t> head(kHeadBytes);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& f = g_all[i++ % g_all.size()];
    auto file = NativeFile::open_for_reading(f.path);
    std::size_t got = file ? file->read_at(0, head.data(), head.size()) : 0;
    benchmark::DoNotOptimize(got);
    benchmark::ClobberMemory();
    if (got != head.size()) {
      state.SkipWithError("short read");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void extract_loop(benchmark::State& state, const std::vector<BenchFile>& files) {
  std::size_t i = 0;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    const auto& f = files[i++ % files.size()];
    unsigned char* buffer = nullptr;
    std::uint32_t length = 0, rotated = 0;
    int answer = probe_extract_jpeg_preview(f.path, kVeltranoSoftware, &buffer, &length, &rotated, ExifMode::basic);
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
    const std::uint32_t expected = f.preview_length + (f.preview_has_exif ? 0 : 1386);
    std::free(buffer);
    if (answer != 1 || length != expected) {
      state.SkipWithError("extraction failed or has the wrong length");
      break;
    }
    bytes += f.preview_length;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void read_loop(benchmark::State& state, const std::vector<BenchFile>& files) {
  std::size_t i = 0;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    const auto& f = files[i++ % files.size()];
    auto file = NativeFile::open_for_reading(f.path);
    auto* buffer = static_cast<unsigned char*>(std::malloc(f.preview_length));
    std::size_t got = (file && buffer) ? file->read_at(f.preview_offset, buffer, f.preview_length) : 0;
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
    std::free(buffer);
    if (got != f.preview_length) {
      state.SkipWithError("short read");
      break;
    }
    bytes += got;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// Writes a buffer to a new file, as the extraction job writes a preview.
bool write_new_file(const unsigned char* data, std::size_t n) {
  const fs::path out = g_dir / "out.jpg";
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

void BM_extract_cr3_write(benchmark::State& state) {
  std::size_t i = 0;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    const auto& f = g_cr3[i++ % g_cr3.size()];
    unsigned char* buffer = nullptr;
    std::uint32_t length = 0, rotated = 0;
    const int answer = probe_extract_jpeg_preview(f.path, kVeltranoSoftware, &buffer, &length, &rotated, ExifMode::basic);
    const bool written = answer == 1 && write_new_file(buffer, length);
    std::free(buffer);
    if (!written || length != f.preview_length + 1386) {
      state.SkipWithError("extraction failed or has the wrong length");
      break;
    }
    bytes += f.preview_length;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_copy_cr3_preview(benchmark::State& state) {
  std::size_t i = 0;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    const auto& f = g_cr3[i++ % g_cr3.size()];
    auto file = NativeFile::open_for_reading(f.path);
    auto* buffer = static_cast<unsigned char*>(std::malloc(f.preview_length));
    const std::size_t got = (file && buffer) ? file->read_at(f.preview_offset, buffer, f.preview_length) : 0;
    const bool written = got == f.preview_length && write_new_file(buffer, got);
    std::free(buffer);
    if (!written) {
      state.SkipWithError("short read or write");
      break;
    }
    bytes += got;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_extract_exif_preview(benchmark::State& s) { extract_loop(s, g_exif); }
void BM_read_exif_preview(benchmark::State& s) { read_loop(s, g_exif); }
void BM_extract_bare_preview(benchmark::State& s) { extract_loop(s, g_bare); }
void BM_read_bare_preview(benchmark::State& s) { read_loop(s, g_bare); }

// ---- summary -------------------------------------------------------------

// Console output as usual; the median of each benchmark's repetitions (or
// its single run, without repetitions) is kept for the ratios.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
      if (!median && !single) continue;
      times_[r.run_name.function_name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
    }
    ConsoleReporter::ReportRuns(runs);
  }

  bool have(const std::string& name) const { return times_.count(name) != 0; }
  double real(const std::string& name) const { return times_.at(name).first; }
  double cpu(const std::string& name) const { return times_.at(name).second; }

 private:
  std::map<std::string, std::pair<double, double>> times_;
};

bool print_ratio(const SummaryReporter& rep, const char* label, const std::string& probe, const std::string& plain,
                 double target) {
  if (!rep.have(probe) || !rep.have(plain)) {
    std::printf("%-34s not measured (filtered out or failed)\n", label);
    return true;
  }
  const double r = rep.real(probe) / rep.real(plain);
  const double c = rep.cpu(probe) / rep.cpu(plain);
  std::printf("%-34s %9.1f us vs %9.1f us   ratio %.2f (cpu %.2f)   target <= %.2f  %s\n", label, rep.real(probe),
              rep.real(plain), r, c, target, r <= target ? "MET" : "MISSED");
  return r <= target;
}

// What the probe reads of the AVI; false when the target is missed.
bool report_video_input() {
  constexpr double kInputTargetBytes = 20e6;
  const sparse_avi::Layout layout;  // 20,000 chunks, about 1 GB
  const fs::path avi = g_dir / "clip.avi";
  if (!sparse_avi::write(avi.string(), layout)) {
    std::printf("video input: could not write %s\n", avi.c_str());
    return false;
  }
  ProbeReport report;
  const bool opened = probe_report(native_path(avi), report);
  std::error_code ec;
  const double size = static_cast<double>(fs::file_size(avi, ec));
  fs::remove(avi, ec);
  if (!opened) {
    std::printf("video input: could not open %s\n", avi.c_str());
    return false;
  }
  const bool met = static_cast<double>(report.input_bytes) <= kInputTargetBytes;
  std::printf("%-34s %.2f GB, %u chunks: %llu reads, %.2f MB of input   target <= %.0f MB  %s\n",
              "(e) probe of an AVI video", size / 1e9, layout.chunks,
              static_cast<unsigned long long>(report.input_reads), static_cast<double>(report.input_bytes) / 1e6,
              kInputTargetBytes / 1e6, met ? "MET" : "MISSED");
  return met;
}

// What the probe and a full-Exif extraction read of a TIFF whose Exif
// directory has 65,535 entries with their values at the end of the file,
// pointed at three times; false when the target is missed.
bool report_wide_directory_input() {
  const std::vector<std::uint8_t> tiff = wide_directory::build(synthetic_jpeg(12u << 10, 7), 2);
  const fs::path path = g_dir / "wide.tif";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(tiff.data()), static_cast<std::streamsize>(tiff.size()));
    if (!out) {
      std::printf("wide directory: could not write %s\n", path.c_str());
      return false;
    }
  }
  const double size = static_cast<double>(tiff.size());
  const double target = 4 * size + 1e6;
  ProbeReport probed, extracted;
  ExtractedPreview preview;
  const bool ok = probe_report(native_path(path), probed) &&
                  probe_extract_preview(native_path(path), nullptr, ExifMode::full, preview, &extracted) ==
                      ExtractOutcome::extracted;
  std::free(preview.buffer);
  std::error_code ec;
  fs::remove(path, ec);
  if (!ok) {
    std::printf("wide directory: the probe or the extraction failed\n");
    return false;
  }
  bool met = true;
  for (const auto& [label, report] : {std::pair<const char*, const ProbeReport&>{"(g) probe, 65,535-entry directory", probed},
                                      {"(g) full extract, same file", extracted}}) {
    const bool this_met = static_cast<double>(report.input_bytes) <= target;
    std::printf("%-34s %.2f MB file: %llu reads, %.2f MB of input   target <= %.2f MB  %s\n", label, size / 1e6,
                static_cast<unsigned long long>(report.input_reads), static_cast<double>(report.input_bytes) / 1e6,
                target / 1e6, this_met ? "MET" : "MISSED");
    met &= this_met;
  }
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  // Defaults: interleaved repetitions; command-line flags override them.
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=7";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string aggregates = "--benchmark_display_aggregates_only=true";
  args.insert(args.begin() + 1, {reps.data(), interleave.data(), aggregates.data()});
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;

  if (!build_files()) {
    fs::remove_all(g_dir);
    return 1;
  }

  auto reg = [](const char* name, void (*fn)(benchmark::State&)) {
    benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMicrosecond)->MinTime(0.3);
  };
  reg("has_jpeg_preview", BM_has_jpeg_preview);
  reg("open_read64k_close", BM_open_read64k_close);
  if (!g_exif.empty()) {
    reg("extract_exif_preview", BM_extract_exif_preview);
    reg("read_exif_preview", BM_read_exif_preview);
  }
  reg("extract_bare_preview", BM_extract_bare_preview);
  reg("read_bare_preview", BM_read_bare_preview);
  reg("extract_cr3_write", BM_extract_cr3_write);
  reg("copy_cr3_preview", BM_copy_cr3_preview);

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nMedian per file, single thread, files in the page cache:\n");
  bool met = true;
  met &= print_ratio(reporter, "(a) has_jpeg_preview / (b) 64 KiB", "has_jpeg_preview", "open_read64k_close", 2.0);
  met &= print_ratio(reporter, "(c) extract / (d) read, Exif", "extract_exif_preview", "read_exif_preview", 1.25);
  met &= print_ratio(reporter, "(c) extract / (d) read, no Exif", "extract_bare_preview", "read_bare_preview", 1.25);
  met &= print_ratio(reporter, "(f) CR3 extract+write / copy", "extract_cr3_write", "copy_cr3_preview", 1.25);
  met &= report_video_input();
  met &= report_wide_directory_input();
  std::printf("%s\n", met ? "all targets met" : "a target was missed");

  fs::remove_all(g_dir);
  return 0;
}

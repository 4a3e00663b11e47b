// Writes camera-like files for the library's tests (C and Node.js) and the
// Node.js benchmark, from the test builders:
//
//   make_test_files OUT_DIR
//       one file per case, and OUT_DIR/cases.txt with a line per file, its
//       fields parted by tabs: name, what it is (preview, no-preview or
//       not-raw), and the make and model it records ("-" for none)
//   make_test_files OUT_DIR COUNT [JPEG_DIR]
//       COUNT files cycling through the formats (CR2, NEF, RW2, CR3, CRW
//       layouts), their previews taken in turn from the JPEG files of
//       JPEG_DIR (camera pictures) or, without it, encoded here.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "probe/container_builders.h"
#include "probe/cr3_builder.h"
#include "support/probe_fixture.h"
#include "support/raw_builder.h"
#include "support/test_jpeg.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Format { cr2, nef, rw2, cr3, crw };
constexpr Format kFormats[] = {Format::cr2, Format::nef, Format::rw2, Format::cr3, Format::crw};

const char* extension(Format f) {
  switch (f) {
    case Format::cr2: return "CR2";
    case Format::nef: return "NEF";
    case Format::rw2: return "RW2";
    case Format::cr3: return "CR3";
    case Format::crw: return "CRW";
  }
  return "RAW";
}

// A CIFF file whose heap holds the preview (record 0x2007) and the names
// (record 0x080A: make, NUL, model, NUL).
Bytes build_crw_file(const Bytes& jpeg, const std::string& make, const std::string& model) {
  std::string names_text = make + std::string(1, '\0') + model + std::string(1, '\0');
  Bytes names(names_text.begin(), names_text.end());
  names.resize(64, 0);
  return build_crw(build_ciff_heap({{0x080A, names}, {0x2007, jpeg}}));
}

// The file of one format around `jpeg`, with `filler` bytes of sensor data
// where the layout has any.
Bytes build_format(Format f, const Bytes& jpeg, std::size_t filler, std::uint8_t seed) {
  raw_builder::RawSpec spec;
  spec.jpeg = jpeg;
  spec.fillerBytes = filler;
  spec.fillerSeed = seed;
  spec.exif = true;
  switch (f) {
    case Format::cr2:
      spec.layout = raw_builder::Layout::kStripJpeg;
      return raw_builder::build(spec);
    case Format::nef:
      spec.layout = raw_builder::Layout::kSubIfdJpeg;
      spec.make = "NIKON CORPORATION";
      spec.model = "NIKON D-Test";
      return raw_builder::build(spec);
    case Format::rw2:
      spec.layout = raw_builder::Layout::kTag46Jpeg;
      spec.make = "Panasonic";
      spec.model = "DMC-TEST";
      return raw_builder::build(spec);
    case Format::cr3: {
      cr3_test::Cr3Parts parts;
      parts.full_size = jpeg;
      parts.orientation = 6;
      return cr3_test::build_cr3(parts);
    }
    case Format::crw:
      return build_crw_file(jpeg, "Canon", "Canon EOS D-Test");
  }
  return {};
}

bool write(const std::filesystem::path& path, const Bytes& bytes) {
  if (raw_builder::write_file(path.string(), bytes)) return true;
  std::fprintf(stderr, "make_test_files: cannot write %s\n", path.string().c_str());
  return false;
}

int write_cases(const std::filesystem::path& out) {
  // A preview with its own Exif names the camera as the RAW file does.
  test_jpeg::JpegSpec nikon = test_jpeg::three_two();
  nikon.make = "NIKON CORPORATION";
  nikon.model = "NIKON D-Test";
  const Bytes with_exif = test_jpeg::encode(nikon);
  const Bytes without_exif = raw_builder::strip_leading_exif(test_jpeg::encoded(test_jpeg::landscape));
  const Bytes& jfif = test_jpeg::encoded(test_jpeg::phone);
  struct Case {
    const char* name;
    Bytes bytes;
    const char* expect;
    const char* make;
    const char* model;
  };
  raw_builder::RawSpec placeholder;  // a RAW file whose preview slot holds no JPEG
  placeholder.jpeg = Bytes(64, 0);
  placeholder.exif = true;
  const Case cases[] = {
      {"strip.cr2", build_format(Format::cr2, without_exif, 4096, 1), "preview", "Canon", "Canon EOS Test"},
      {"subifd.nef", build_format(Format::nef, with_exif, 4096, 2), "preview", "NIKON CORPORATION", "NIKON D-Test"},
      {"tag46.rw2", build_format(Format::rw2, test_jpeg::encoded(test_jpeg::compact), 4096, 3), "preview",
       "Panasonic", "DMC-TEST"},
      {"track.cr3", build_format(Format::cr3, test_jpeg::encoded(test_jpeg::portrait), 0, 4), "preview", "Canon", "Canon EOS R6"},
      {"heap.crw", build_format(Format::crw, jfif, 0, 5), "preview", "Canon", "Canon EOS D-Test"},
      {"placeholder.cr2", raw_builder::build(placeholder), "no-preview", "Canon", "Canon EOS Test"},
      // Files that are no RAW files: a camera's JPEG (its Exif names the
      // camera; another one with a JFIF segment first), a text file, and one
      // under a UTF-8 name.
      {"photo.jpg", with_exif, "not-raw", "-", "-"},
      {"phone.jpg", jfif, "not-raw", "-", "-"},
      {"notes.txt", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e', '\n'}, "not-raw", "-", "-"},
      {"\xC3\x84pfel \xE2\x80\x93 \xE5\x86\x99\xE7\x9C\x9F.txt", Bytes(300, 'x'), "not-raw", "-", "-"},
  };
  std::FILE* list = std::fopen((out / "cases.txt").string().c_str(), "w");
  if (!list) return 1;
  for (const Case& c : cases) {
    if (!write(out / c.name, c.bytes)) return 1;
    std::fprintf(list, "%s\t%s\t%s\t%s\n", c.name, c.expect, c.make, c.model);
  }
  return std::fclose(list) == 0 ? 0 : 1;
}

int write_corpus(const std::filesystem::path& out, int count, const std::string& jpeg_dir) {
  std::vector<Bytes> jpegs;
  if (!jpeg_dir.empty()) {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(jpeg_dir))
      if (entry.path().extension() == ".jpg") names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) jpegs.push_back(read_file_bytes(name.string()));
  }
  if (jpegs.empty()) {
    for (auto picture : {test_jpeg::landscape, test_jpeg::portrait, test_jpeg::three_two, test_jpeg::compact})
      jpegs.push_back(test_jpeg::encoded(picture));
  }
  for (int i = 0; i < count; ++i) {
    const Format f = kFormats[i % std::size(kFormats)];
    const Bytes& jpeg = jpegs[static_cast<std::size_t>(i / std::size(kFormats)) % jpegs.size()];
    char name[64];
    std::snprintf(name, sizeof name, "IMG_%04d.%s", i, extension(f));
    if (!write(out / name, build_format(f, jpeg, 1 << 20, static_cast<std::uint8_t>(i)))) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: make_test_files OUT_DIR [COUNT [JPEG_DIR]]\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (argc == 2) return write_cases(out);
  const int count = std::atoi(argv[2]);
  if (count <= 0) {
    std::fprintf(stderr, "make_test_files: COUNT must be a positive number\n");
    return 2;
  }
  return write_corpus(out, count, argc == 4 ? argv[3] : "");
}

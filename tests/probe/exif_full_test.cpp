// The full Exif option against an independent reader: for RAW-like files
// from the builders and the real camera files, every tag exiftool reads in
// the RAW's IFD0, ExifIFD, GPS and InteropIFD groups reads back with the same
// value from the extracted JPEG, except the structural ones; the pixel size
// is the preview's; every other segment of the preview is kept in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "probe/probe.h"
#include "support/raw_builder.h"
#include "tests/probe/core_builders.h"
#include "tests/probe/cr3_builder.h"
#include "tests/probe/value_builders.h"
#include "support/exif_view.h"

namespace {

using core_test::Bytes;
using core_test::Entry;
using core_test::TempFile;
using core_test::Tiff;

bool have_exiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

// exiftool's JSON object for one file, read with the given options.
nlohmann::json exiftool(const std::string& path, const std::string& options = "-G1 -n -a") {
  FILE* pipe = ::popen(("exiftool -j " + options + " '" + path + "' 2>/dev/null").c_str(), "r");
  std::string out;
  char buf[4096];
  std::size_t n;
  while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  if (pipe) ::pclose(pipe);
  auto j = nlohmann::json::parse(out, nullptr, false);
  return j.is_array() && !j.empty() ? j[0] : nlohmann::json::object();
}

// Tags that describe the RAW's image data or its layout, or that the output
// states anew (Software, the pixel size); they are not expected back.
const std::set<std::string> kStructural = {
    "SubfileType", "ImageWidth", "ImageHeight", "BitsPerSample", "Compression", "PhotometricInterpretation",
    "StripOffsets", "SamplesPerPixel", "RowsPerStrip", "StripByteCounts", "PlanarConfiguration", "Software",
    "ReferenceBlackWhite", "TIFF-EPStandardID", "ThumbnailTIFF", "JpgFromRaw", "JpgFromRawStart",
    "JpgFromRawLength", "PreviewImage", "PreviewImageStart", "PreviewImageLength", "ExifImageWidth", "ExifImageHeight",
    "Padding", "OffsetSchema"};

// Application and comment segments before the scan, Exif segments left out.
std::vector<Bytes> other_segments(const Bytes& j) {
  std::vector<Bytes> out;
  std::size_t p = 2;
  while (p + 4 <= j.size() && j[p] == 0xFF && j[p + 1] != 0xDA) {
    std::size_t len = (std::size_t{j[p + 2]} << 8) | j[p + 3];
    bool exif = j[p + 1] == 0xE1 && p + 10 <= j.size() && std::string(j.begin() + p + 4, j.begin() + p + 9) ==
                                                               std::string("Exif\0", 5);
    if (!exif && j[p + 1] >= 0xE0) out.emplace_back(j.begin() + p, j.begin() + p + 2 + len);
    p += 2 + len;
  }
  return out;
}

// A small JPEG with an Exif segment of its own, an ICC-like APP2, an XMP-like
// APP1 and a comment, to be replaced and kept.
Bytes preview_with_segments() {
  core_test::Tiff own;
  own.dir({own.ascii(271, "PreviewMaker"), own.ascii(305, "preview firmware")});
  Bytes j = core_test::make_jpeg(320, 240, 3, core_test::JpegApp::kExif, own.bytes(), 256);
  ByteWriter extra(false);
  extra.u8(0xFF).u8(0xE2).u16(2 + 14).text("ICC_PROFILE").u8(0).u8(1).u8(1);
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'></x:xmpmeta>";
  extra.u8(0xFF).u8(0xE1).u16(static_cast<std::uint16_t>(2 + 29 + xmp.size()));
  extra.text("http://ns.adobe.com/xap/1.0/").u8(0).text(xmp);
  extra.u8(0xFF).u8(0xFE).u16(2 + 7).text("comment");
  std::size_t exif_end = 4 + ((std::size_t{j[4]} << 8) | j[5]);
  j.insert(j.begin() + static_cast<std::ptrdiff_t>(exif_end), extra.bytes().begin(), extra.bytes().end());
  return j;
}

// A RAW-like file around a preview from one of the builders.
Bytes built_raw(raw_builder::Layout layout, const Bytes& preview) {
  raw_builder::RawSpec spec;
  spec.layout = layout;
  spec.jpeg = preview;
  spec.exif = true;
  return raw_builder::build(spec);
}

Bytes built_cr3(bool little, const Bytes& preview) {
  cr3_test::Cr3Parts parts;
  parts.little_cmt = little;
  parts.full_size = preview;
  return cr3_test::build_cr3(parts);
}

struct Row {
  std::string name;
  std::string path;                             // a real file, or empty for a built one
  std::function<Bytes(const Bytes&)> build;    // the file around a preview
  bool own_exif = false;                        // the preview carries Exif and other segments
};

}  // namespace

TEST(FullExif, RoundTripThroughExiftool) {
  if (!have_exiftool()) GTEST_SKIP() << "exiftool is not installed; skipped";
  using raw_builder::Layout;
  std::vector<Row> rows = {
      {"strip.cr2", "", [](const Bytes& j) { return built_raw(Layout::kStripJpeg, j); }},
      {"subifd.nef", "", [](const Bytes& j) { return built_raw(Layout::kSubIfdJpeg, j); }, true},
      {"tag46.rw2", "", [](const Bytes& j) { return built_raw(Layout::kTag46Jpeg, j); }},
      {"little.cr3", "", [](const Bytes& j) { return built_cr3(true, j); }},
      {"big.cr3", "", [](const Bytes& j) { return built_cr3(false, j); }, true},
  };
  const std::string samples = samples_dir();
  if (!samples.empty()) {
    for (const char* real : {"NikonD7100.nef", "CanonEOSR6.cr3", "CanonEOSD30.crw"})
      rows.push_back({real, samples + "/real-raw/" + real, nullptr});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes preview = row.own_exif ? preview_with_segments() : core_test::make_jpeg(320, 240, 3);
    std::unique_ptr<TempFile> built;
    std::string raw = row.path;
    if (raw.empty()) {
      built = std::make_unique<TempFile>("full_" + row.name, row.build(preview));
      raw = built->str();
    }
    unsigned char* data = nullptr;
    std::uint32_t length = 0, rotated = 0;
    ASSERT_EQ(probe_extract_jpeg_preview(native_from_utf8(raw), kVeltranoSoftware, &data, &length, &rotated,
                                         ExifMode::full),
              1);
    Bytes jpeg(data, data + length);
    std::free(data);
    TempFile out("full_" + row.name + ".jpg", jpeg);

    nlohmann::json in = exiftool(raw), got = exiftool(out.str());
    ASSERT_FALSE(got.empty());
    EXPECT_FALSE(got.contains("ExifTool:Warning")) << got["ExifTool:Warning"];
    EXPECT_FALSE(got.contains("ExifTool:Error")) << got["ExifTool:Error"];
    EXPECT_EQ(got["IFD0:Software"], kVeltranoSoftware);
    EXPECT_EQ(got["ExifIFD:ExifImageWidth"], got["File:ImageWidth"]);
    EXPECT_EQ(got["ExifIFD:ExifImageHeight"], got["File:ImageHeight"]);
    int compared = 0;
    for (auto& [key, value] : in.items()) {
      const auto colon = key.find(':');
      const std::string group = key.substr(0, colon), tag = key.substr(colon + 1);
      if (group != "IFD0" && group != "ExifIFD" && group != "GPS" && group != "InteropIFD") continue;
      if (kStructural.count(tag)) continue;
      ++compared;
      EXPECT_EQ(got[key], value) << key;
    }
    if (compared == 0) {
      // No TIFF metadata in the RAW: what the probe knows, with the time
      // as DateTimeOriginal.
      EXPECT_TRUE(got.contains("ExifIFD:DateTimeOriginal"));
      EXPECT_EQ(got["ExifIFD:DateTimeOriginal"], got["IFD0:ModifyDate"]);
    } else if (row.path.empty()) {
      EXPECT_GE(compared, 10);  // the builder's metadata is there to compare
    }
    if (row.own_exif) {
      EXPECT_EQ(other_segments(jpeg), other_segments(preview));
      EXPECT_NE(got["IFD0:Make"], "PreviewMaker");
    }
  }
}

// A GPS directory that holds an Exif-directory pointer (found by fuzzing):
// the entry was copied as stored, and its value, an offset into the RAW,
// then pointed readers of the output back at its first directory.
TEST(FullExif, DirectoryPointersInsideGpsAreNotCopied) {
  core_test::Tiff t;
  auto ifd0 = t.dir({t.ascii(271, "Maker"), t.long_(273, 0), t.long_(279, 0), t.long_(34853, 0)});
  t.patch32(ifd0.value_field[3], t.here());
  t.dir({t.raw(0, 1, 4, {2, 3, 0, 0}), t.long_(34665, 8), t.long_(40965, 8)});
  Bytes preview = core_test::make_jpeg(64, 48, 3);
  t.patch32(ifd0.value_field[1], t.append(preview));
  t.patch32(ifd0.value_field[2], static_cast<std::uint32_t>(preview.size()));
  TempFile file("gps_pointer.tif", t.bytes());
  unsigned char* data = nullptr;
  std::uint32_t length = 0, rotated = 0;
  ASSERT_EQ(probe_extract_jpeg_preview(file.native(), kVeltranoSoftware, &data, &length, &rotated, ExifMode::full),
            1);
  Bytes jpeg(data, data + length);
  std::free(data);
  ASSERT_TRUE(raw_builder::starts_with_exif(jpeg));
  // The TIFF structure after "Exif\0\0", little-endian as the RAW's IFD0.
  const std::size_t tiff = 12;
  auto u16 = [&](std::size_t at) { return jpeg[tiff + at] | jpeg[tiff + at + 1] << 8; };
  auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16; };
  std::uint32_t gps = 0;
  for (int i = 0, n = u16(8); i < n; ++i)
    if (u16(8 + 2 + 12 * i) == 34853) gps = u32(8 + 2 + 12 * i + 8);
  ASSERT_NE(gps, 0u);
  ASSERT_EQ(u16(gps), 1);  // GPSVersionID alone
  EXPECT_EQ(u16(gps + 2), 0);
}

// Both Exif blocks of a file with GPS, read by exiv2: no warning, and the
// GPS directory is found. The inserted block's GPS directory once overlapped
// the Exif directory's next-directory word, which exiv2 reported as "an
// unexpected next pointer".
TEST(FullExif, BothBlocksWithGpsReadCleanlyInExiv2) {
  if (std::system("exiv2 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "exiv2 is not installed; skipped";
  TempFile raw("gps_basic.cr2", built_raw(raw_builder::Layout::kStripJpeg, core_test::make_jpeg(320, 240, 3)));
  for (ExifMode mode : {ExifMode::basic, ExifMode::full}) {
    SCOPED_TRACE(mode == ExifMode::basic ? "basic" : "full");
    unsigned char* data = nullptr;
    std::uint32_t length = 0, rotated = 0;
    ASSERT_EQ(probe_extract_jpeg_preview(native_from_utf8(raw.str()), kVeltranoSoftware, &data, &length, &rotated,
                                         mode),
              1);
    TempFile out("gps_basic.jpg", Bytes(data, data + length));
    std::free(data);
    FILE* pipe = ::popen(("exiv2 -pa '" + out.str() + "' 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
    ::pclose(pipe);
    EXPECT_EQ(text.find("Warning"), std::string::npos) << text;
    EXPECT_EQ(text.find("Error"), std::string::npos) << text;
    EXPECT_NE(text.find("Exif.GPSInfo.GPSLatitude "), std::string::npos) << text;
  }
}

namespace {

Bytes extract_full(const TempFile& file) {
  unsigned char* data = nullptr;
  std::uint32_t length = 0, rotated = 0;
  if (probe_extract_jpeg_preview(file.native(), kVeltranoSoftware, &data, &length, &rotated, ExifMode::full) != 1)
    return {};
  Bytes out(data, data + length);
  std::free(data);
  return out;
}

// What exiftool's validation reports as errors for a file (and its warnings
// when `warnings`, except missing required tags); empty when all is well or
// exiftool is not installed.
std::string exiftool_complaints(const std::string& path, bool warnings) {
  if (!have_exiftool()) return {};
  const nlohmann::json j = exiftool(path, "-validate -warning -error -a");
  if (j.empty()) return "exiftool gave no result";
  std::string complaints;
  for (auto& [key, value] : j.items()) {
    const bool error = key.rfind("Error", 0) == 0, warning = key.rfind("Warning", 0) == 0;
    // Tags a camera's Exif must hold that the test files do not (their
    // Exif directories are small) are no fault of the output's structure.
    if (warning && value.dump().find("Missing required") != std::string::npos) continue;
    if (error || (warnings && warning)) complaints += key + ": " + value.dump() + "\n";
  }
  const std::string validate = j.value("Validate", "");
  if (validate.find("Error") != std::string::npos) complaints += "Validate: " + validate + "\n";
  return complaints;
}

struct SoundRow {
  std::string name;
  std::function<Bytes()> build;
  // What the full output must show besides a sound structure.
  std::function<void(const exif_view::ExifView& exif, const Bytes& out)> check;
};

}  // namespace

// --exif full made sound: every pointer of the output leads to a directory
// with entries inside the structure, no value is one the camera did not
// record, and exiftool validates the output without an error.
TEST(FullExif, SoundOnEveryLayout) {
  using value_builders::plain_preview;
  const std::vector<SoundRow> rows = {
      // The size cut emptied the GPS directory and left IFD0's 34853
      // pointing at the Make text: exiftool "Bad GPS directory".
      {"GPS directory emptied by the size cut",
       [] {
         cr3_test::Cr3Parts parts;
         parts.full_size = plain_preview();
         Bytes method(65350, 'x');
         std::memcpy(method.data(), "ASCII\0\0\0", 8);
         parts.gps_tiff = cr3_test::tiff(true, {{27, 7, 65350, method}});
         return cr3_test::build_cr3(parts);
       },
       [](const exif_view::ExifView& exif, const Bytes&) {
         EXPECT_FALSE(exif.has("IFD0", 34853));
         EXPECT_EQ(exif.text("IFD0", 271), "Canon");
       }},
      {"Interop directory emptied by the size cut",
       [] {
         Tiff t;
         auto d0 = t.dir({t.ascii(271, "Canon"), t.ascii(272, "Canon EOS 5D"), t.long_(273, 0), t.long_(279, 0),
                          t.long_(34665, 0)});
         t.patch32(d0.value_field[4], t.here());
         auto ex = t.dir({t.rational(33434, 1, 100), t.long_(40965, 0)});
         t.patch32(ex.value_field[1], t.here());
         t.dir({t.raw(1, 2, 65350, Bytes(65350, 'R'))});
         const Bytes preview = plain_preview();
         t.patch32(d0.value_field[3], static_cast<std::uint32_t>(preview.size()));
         t.patch32(d0.value_field[2], t.append(preview));
         return t.bytes();
       },
       [](const exif_view::ExifView& exif, const Bytes&) {
         EXPECT_FALSE(exif.has("Exif", 40965));
         EXPECT_NEAR(exif.rational("Exif", 33434), 0.01, 1e-9);
       }},
      // Offsets into the RAW's image layer, copied as stored, pointed
      // outside the segment.
      {"offset tags of the image layer in the Exif and GPS directories",
       [] {
         return value_builders::tiff_raw([](Tiff& t, std::vector<Entry>& ifd0, std::vector<Entry>& exif) {
           exif = {t.long_(273, 9000), t.long_(279, 500), t.rational(33434, 1, 100), t.long_(513, 9000),
                   t.long_(514, 500)};
           (void)ifd0;
         });
       },
       [](const exif_view::ExifView& exif, const Bytes&) {
         for (std::uint16_t tag : {273, 279, 513, 514}) EXPECT_FALSE(exif.has("Exif", tag)) << tag;
         EXPECT_TRUE(exif.has("Exif", 33434));
       }},
      // No directories of the RAW's own: the camera's Exif in the preview
      // was replaced by one with ExposureTime, FNumber and ISO 0.
      {"RAF: the camera's Exif is the preview's own",
       [] { return value_builders::raf(value_builders::camera_exif_preview()); },
       [](const exif_view::ExifView&, const Bytes& out) { EXPECT_EQ(out, value_builders::camera_exif_preview()); }},
      {"RAF whose preview carries the camera's Exif after a JFIF segment",
       [] {
         return value_builders::raf(value_builders::jfif_then_exif_preview(
             [](Tiff& t) { return std::vector<Entry>{t.ascii(271, "FUJIFILM")}; },
             [](Tiff& t) { return std::vector<Entry>{t.rational(33434, 1, 500)}; }));
       },
       [](const exif_view::ExifView& exif, const Bytes&) {
         EXPECT_EQ(exif.first_exif_at, 20u);  // its own, after the JFIF segment
         EXPECT_NEAR(exif.rational("Exif", 33434), 1.0 / 500, 1e-9);
       }},
      {"CRW without shot information: no value written as 0",
       [] { return build_crw(build_ciff_heap({{0x080A, text_bytes(std::string("Canon\0Canon EOS D30\0", 20))},
                                              {0x2007, plain_preview()}})); },
       [](const exif_view::ExifView& exif, const Bytes&) {
         for (std::uint16_t tag : {33434, 33437, 34855, 37386}) EXPECT_FALSE(exif.has("Exif", tag)) << tag;
         EXPECT_EQ(exif.text("IFD0", 272), "Canon EOS D30");
       }},
      // RW2: 0x011a (a Panasonic SHORT) was copied as XResolution; the RAW's
      // Exif lacks the JPEG's ISO, ColorSpace and Interop.
      {"RW2: Panasonic's own IFD0 tags, and the union of both Exif directories",
       [] { return value_builders::rw2(); },
       [](const exif_view::ExifView& exif, const Bytes&) {
         ASSERT_TRUE(exif.has("IFD0", 282));
         EXPECT_EQ(exif.dirs.at("IFD0").at(282).type, 5);  // the JPEG's XResolution, 180/1
         EXPECT_NEAR(exif.rational("IFD0", 282), 180, 1e-9);
         EXPECT_FALSE(exif.has("IFD0", 2));
         EXPECT_FALSE(exif.has("IFD0", 23));
         EXPECT_EQ(exif.text("IFD0", 272), "DMC-GH5");
         EXPECT_NEAR(exif.rational("Exif", 33434), 1.0 / 250, 1e-9);  // the RAW's own wins
         EXPECT_EQ(exif.number("Exif", 34855), 80);
         EXPECT_EQ(exif.number("Exif", 40961), 1);
         EXPECT_EQ(exif.text("Interop", 1), "R98");
         EXPECT_EQ(exif.text("Exif", 36867), "2019:05:01 10:20:30");
         EXPECT_EQ(exif.text("IFD0", 306), "2019:05:01 10:20:30");
       }},
  };
  for (const SoundRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFile raw("sound_" + std::to_string(&row - rows.data()) + ".raw", row.build());
    const Bytes out = extract_full(raw);
    ASSERT_FALSE(out.empty());
    const exif_view::ExifView exif = exif_view::read(out);
    EXPECT_EQ(exif.exif_segments, 1);
    EXPECT_TRUE(exif.bad_pointers.empty()) << exif.bad_pointers.front();
    row.check(exif, out);
    TempFile written("sound_" + std::to_string(&row - rows.data()) + ".jpg", out);
    EXPECT_EQ(exiftool_complaints(written.str(), true), "");
  }
}

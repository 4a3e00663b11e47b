// Real files: the shared RAW samples, and real camera JPEGs wrapped into
// TIFF-family containers. Expected values were taken with exiftool from
// the same files and are stored here (exiftool is not needed to run).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "probe/exif_block.h"
#include "probe/probe.h"
#include "support/probe_fixture.h"
#include "support/raw_builder.h"
#include "tests/probe/core_builders.h"

namespace {

using core_test::Bytes;
using core_test::extract;
using core_test::Extracted;
using core_test::fnv1a;
using core_test::TempFile;

namespace fs = std::filesystem;

void use_utc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

std::string raw_sample(const char* name) { return samples_dir() + "/raw/" + name; }

std::vector<fs::path> files_in(const std::string& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.is_regular_file()) out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(RawSamples, EveryFileProbesCleanly) {
  SKIP_WITHOUT_SAMPLES();
  auto files = files_in(samples_dir() + "/raw");
  ASSERT_FALSE(files.empty());
  for (const fs::path& p : files) {
    SCOPED_TRACE(p.string());
    ProbeReport report;
    ASSERT_TRUE(probe_report(p.native(), report));
    EXPECT_FALSE(report.aborted);
    EXPECT_GE(report.orientation_code, 0);
    int has = probe_has_jpeg_preview(p.native());
    Extracted r = extract(p.native());
    EXPECT_EQ(has, report.has_jpeg_preview ? 1 : 0);
    if (r.ok) {
      ASSERT_GE(r.data.size(), 11u);
      EXPECT_EQ(r.data[0], 0xFF);
      EXPECT_EQ(r.data[1], 0xD8);
      EXPECT_EQ(r.data.size(), r.length);
    }
  }
}

TEST(RawSamples, PanasonicRw2YieldsItsEmbeddedJpegByteForByte) {
  SKIP_WITHOUT_SAMPLES();
  // exiftool -b -JpgFromRaw Panasonic.rw2: 10,785 bytes, FNV-1a 64 below.
  Extracted r = extract(raw_sample("Panasonic.rw2"));
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.length, 10785u);
  EXPECT_EQ(fnv1a(r.data.data(), r.data.size()), 0x246f5cb4cb2713a7ull);
  EXPECT_EQ(r.rotated, 0u);
}

TEST(RawSamples, FujiFilmRafYieldsTheExifThumbnailWithTheBlockInserted) {
  SKIP_WITHOUT_SAMPLES();
  // exiftool -b -ThumbnailImage FujiFilm.raf: 9,362 bytes, no Exif of its
  // own; FNV-1a 64 of its bytes 2 to the end below.
  Extracted r = extract(raw_sample("FujiFilm.raf"));
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.length, 9362u + 1386u);
  const Bytes head = {0xFF, 0xD8, 0xFF, 0xE1, 0x05, 0x68, 'E', 'x', 'i', 'f', 0, 0};
  EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 12), head);
  EXPECT_EQ(fnv1a(r.data.data() + 1388, r.data.size() - 1388), 0x414e09e0a790d79aull);
  ProbeReport report;
  ASSERT_TRUE(probe_report(raw_sample("FujiFilm.raf"), report));
  EXPECT_EQ(report.preview_width, 160u);
  EXPECT_EQ(report.preview_height, 120u);
  EXPECT_EQ(report.preview_length, 9362u);
  // The inserted block names the camera as recorded, trailing spaces and all.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data.data() + 12 + 1132)), "FUJIFILM");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data.data() + 12 + 1196)), "FinePix S5Pro  ");
}

TEST(RawSamples, MetadataAgreesWithExiftool) {
  SKIP_WITHOUT_SAMPLES();
  use_utc();
  // Make and model after the clean-up; capture time is DateTimeOriginal
  // read as UTC; exposure is ShutterSpeedValue where the file has one (it
  // follows ExposureTime in the Exif directory), else ExposureTime;
  // f-number likewise ApertureValue, else FNumber.
  struct Case {
    const char* file;
    const char* make;
    const char* model;
    std::int64_t capture_time;
    float iso, exposure, f_number, focal_length;
  } cases[] = {
      {"CanonRaw.cr2", "Canon", "EOS 350D DIGITAL", 1123095558, 400, 0.0666666540f, 8, 55},
      {"DNG.dng", "Canon", "EOS 350D DIGITAL", 1123095558, 400, 0.0666666480f, 8, 55},
      {"Panasonic.rw2", "Panasonic", "DMC-LX3", 1218036116, 80, 0.004f, 4, 5.1f},
      {"FujiFilm.raf", "FUJIFILM", "FinePix S5Pro", 1179842310, 100, 0.00390625f, 8, 70},
      {"Nikon.nef", "NIKON", "D70", 1086796955, 200, 0.05f, 3.5f, 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ProbeReport r;
    ASSERT_TRUE(probe_report(raw_sample(c.file), r));
    EXPECT_EQ(r.make, c.make);
    EXPECT_EQ(r.model, c.model);
    EXPECT_EQ(r.capture_time, c.capture_time);
    EXPECT_NEAR(r.iso, c.iso, c.iso * 1e-4);
    EXPECT_NEAR(r.exposure, c.exposure, c.exposure * 1e-4);
    EXPECT_NEAR(r.f_number, c.f_number, c.f_number * 1e-4);
    EXPECT_NEAR(r.focal_length, c.focal_length, c.focal_length * 1e-4);
  }
}

// ---------------------------------------------------------------------------
// Real camera JPEGs wrapped into RAW-like containers

struct Layout {
  const char* name;
  raw_builder::Layout layout;
};
const Layout kLayouts[] = {{"strip in IFD0", raw_builder::Layout::kStripJpeg},
                           {"SubIFD", raw_builder::Layout::kSubIfdJpeg},
                           {"tag 46", raw_builder::Layout::kTag46Jpeg}};

std::vector<fs::path> camera_jpegs() {
  std::vector<fs::path> out;
  for (const fs::path& p : files_in(samples_dir() + "/camera-jpeg")) {
    if (p.extension() == ".jpg" || p.extension() == ".JPG") out.push_back(p);
  }
  return out;
}

Extracted wrap_and_extract(const Bytes& jpeg, raw_builder::Layout layout, const std::string& tag) {
  raw_builder::RawSpec spec;
  spec.layout = layout;
  spec.jpeg = jpeg;
  TempFile tmp("wrapped_" + tag, raw_builder::build(spec));
  return extract(tmp.native());
}

TEST(WrappedCameraJpegs, ComeBackByteExact) {
  SKIP_WITHOUT_SAMPLES();
  auto jpegs = camera_jpegs();
  ASSERT_FALSE(jpegs.empty());
  for (const fs::path& p : jpegs) {
    Bytes jpeg = core_test::read_whole_file(p.string());
    ASSERT_GT(jpeg.size(), 11u);
    for (const Layout& l : kLayouts) {
      SCOPED_TRACE(testing::Message() << p.filename().string() << " / " << l.name);
      Extracted r = wrap_and_extract(jpeg, l.layout, "camera.raw");
      ASSERT_EQ(r.ok, 1);
      if (raw_builder::starts_with_exif(jpeg)) {
        EXPECT_EQ(r.length, jpeg.size());
        EXPECT_TRUE(r.data == jpeg);  // byte for byte
      } else {
        ASSERT_EQ(r.length, jpeg.size() + 1386);
        EXPECT_EQ(Bytes(r.data.begin() + 2, r.data.begin() + 12), Bytes(APP1_HEAD, APP1_HEAD + 10));
        EXPECT_TRUE(std::equal(r.data.begin() + 1388, r.data.end(), jpeg.begin() + 2, jpeg.end()));
      }
    }
  }
}

TEST(WrappedCameraJpegs, StrippedOfExifGetTheBlockOnce) {
  SKIP_WITHOUT_SAMPLES();
  int stripped_count = 0;
  for (const fs::path& p : camera_jpegs()) {
    Bytes jpeg = core_test::read_whole_file(p.string());
    if (!raw_builder::starts_with_exif(jpeg)) continue;
    Bytes stripped = raw_builder::strip_leading_exif(jpeg);
    ASSERT_LT(stripped.size(), jpeg.size());
    ++stripped_count;
    for (const Layout& l : kLayouts) {
      SCOPED_TRACE(testing::Message() << p.filename().string() << " / " << l.name);
      Extracted r = wrap_and_extract(stripped, l.layout, "stripped.raw");
      ASSERT_EQ(r.ok, 1);
      ASSERT_EQ(r.length, stripped.size() + 1386);
      EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 2), (Bytes{0xFF, 0xD8}));
      EXPECT_EQ(Bytes(r.data.begin() + 2, r.data.begin() + 12), Bytes(APP1_HEAD, APP1_HEAD + 10));
      EXPECT_TRUE(std::equal(r.data.begin() + 1388, r.data.end(), stripped.begin() + 2, stripped.end()));
      // Exactly one Exif segment at the front: what follows the inserted
      // one is the stripped JPEG's next segment, not another Exif APP1.
      EXPECT_FALSE(r.data[1388] == 0xFF && r.data[1389] == 0xE1 && std::memcmp(&r.data[1392], "Exif", 4) == 0);
      // The block names the camera the builder wrote.
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data.data() + 12 + 1132)), "Canon");
    }
  }
  EXPECT_GT(stripped_count, 0);
}

}  // namespace

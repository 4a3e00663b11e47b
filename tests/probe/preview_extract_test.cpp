// The two entry points and the inserted Exif block: which buffers come
// back, how the APP1 segment is spliced in, and the block's layout byte by
// byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "probe/exif_block.h"
#include "probe/probe.h"
#include "probe/probe_input.h"
#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/core_builders.h"

namespace {

using core_test::Bytes;
using core_test::Entry;
using core_test::extract;
using core_test::Extracted;
using core_test::host16;
using core_test::host32;
using core_test::JpegApp;
using core_test::make_jpeg;
using core_test::TempFile;
using core_test::Tiff;

void use_utc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

// A TIFF whose first directory holds the preview as a JPEG strip (size and
// samples given, so the stored bytes are not probed) and metadata entries.
Bytes strip_preview_file(const Bytes& preview, std::vector<Entry> extra = {}, std::uint32_t length = 0) {
  Tiff t;
  std::vector<Entry> e = {t.long_(256, 640), t.long_(257, 480), t.raw(258, 3, 3, {8, 0, 8, 0, 8, 0}),
                          t.short_(259, 6), t.ascii(271, "Maker"), t.ascii(272, "Body"), t.long_(273, 0),
                          t.short_(277, 3),
                          t.long_(279, length ? length : static_cast<std::uint32_t>(preview.size()))};
  for (Entry& x : extra) e.push_back(x);
  auto d = t.dir(e);
  t.patch32(d.value_field[6], t.append(preview));
  return t.bytes();
}

// A preview of exactly n bytes without Exif (JFIF first).
Bytes jfif_preview(std::size_t n, std::uint8_t seed = 0x29) {
  Bytes j = make_jpeg(640, 480, 3, JpegApp::kJfif, {}, 16, seed);
  Bytes tail(j.end() - 2, j.end());
  j.resize(j.size() - 2);
  std::uint8_t x = seed;
  while (j.size() + 2 < n) {
    x = static_cast<std::uint8_t>(x * 13 + 7);
    j.push_back(x == 0xFF ? 0x00 : x);
  }
  j.insert(j.end(), tail.begin(), tail.end());
  return j;
}

// ---------------------------------------------------------------------------
// Buffer rules of probe_extract_jpeg_preview

TEST(ExtractPreview, ExifPreviewComesBackAsStoredWithTheStartMarkerForced) {
  Tiff inner(true);
  inner.dir({inner.ascii(271, "Own Exif")});
  Bytes preview = make_jpeg(640, 480, 3, JpegApp::kExif, inner.bytes(), 700);
  preview[0] = 0x00;  // damaged start-of-image marker
  preview[1] = 0x00;
  TempFile tmp("exif_preview.cr2", strip_preview_file(preview));
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 1);
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.length, preview.size());
  Bytes expected = preview;
  expected[0] = 0xFF;
  expected[1] = 0xD8;
  EXPECT_EQ(r.data, expected);
  EXPECT_EQ(r.rotated, 0u);
}

// A preview that starts with a JFIF APP0 and carries its Exif APP1 after it
// got a second Exif segment inserted before its own, and readers take the
// first one, the poorer. Its own counts wherever it lies among the segments
// before the scan: it comes back byte for byte.
TEST(ExtractPreview, App0FirstKeepsItsOwnExifThatFollows) {
  Tiff inner(true);
  inner.dir({inner.ascii(271, "Later Exif")});
  Bytes exif_app1 = make_jpeg(8, 8, 3, JpegApp::kExif, inner.bytes());
  // JFIF first, then the APP1 of another JPEG spliced in after it.
  Bytes preview = make_jpeg(640, 480, 3, JpegApp::kJfif, {}, 500);
  std::size_t app1_len = 2 + (std::size_t{exif_app1[4]} << 8 | exif_app1[5]);
  preview.insert(preview.begin() + 2 + 18, exif_app1.begin() + 2, exif_app1.begin() + 2 + static_cast<std::ptrdiff_t>(app1_len));
  TempFile tmp("app0_preview.cr2", strip_preview_file(preview));
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.length, preview.size());
  EXPECT_EQ(r.data, preview);
}

TEST(ExtractPreview, FiveThousandBytesWithoutExif) {
  Bytes preview = jfif_preview(5000);
  ASSERT_EQ(preview.size(), 5000u);
  TempFile tmp("jfif_5000.cr2", strip_preview_file(preview));
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.length, 6386u);
  ASSERT_EQ(r.data.size(), 6386u);
  const Bytes head = {0xFF, 0xD8, 0xFF, 0xE1, 0x05, 0x68, 'E', 'x', 'i', 'f', 0, 0};
  EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 12), head);
  EXPECT_EQ(r.data[12], 'I');  // little-endian host
  EXPECT_EQ(r.data[13], 'I');
  EXPECT_EQ(Bytes(r.data.begin() + 1388, r.data.end()), Bytes(preview.begin() + 2, preview.end()));
}

TEST(ExtractPreview, PreviewRunningPastTheEndIsRefused) {
  Bytes preview = jfif_preview(3000);
  Bytes file = strip_preview_file(preview, {}, 3000 + 100);  // 100 bytes more than the file holds
  TempFile tmp("past_end.cr2", file);
  Extracted r = extract(tmp.native());
  EXPECT_EQ(r.ok, 0);
  EXPECT_TRUE(r.buffer_null);
}

TEST(ExtractPreview, PreviewShorterThanElevenBytesIsRefused) {
  for (std::uint32_t n : {1u, 2u, 10u}) {
    SCOPED_TRACE(n);
    Bytes tiny = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F', 'I', 'F'};
    tiny.resize(n);
    Tiff t;
    t.dir({t.ascii(271, "Maker"), t.raw(46, 7, n, tiny)});
    Bytes file = t.bytes();
    file.resize(file.size() + 32, 0);
    if (n >= 2) {
      ScopedProbe probe(file);
      run_probe();
      EXPECT_EQ(g_probe.preview_length, n);  // located, but too short to hand out
    }
    TempFile tmp("tiny.rw2", file);
    Extracted r = extract(tmp.native());
    EXPECT_EQ(r.ok, 0);
    EXPECT_TRUE(r.buffer_null);
  }
}

TEST(ExtractPreview, ElevenBytesAreEnough) {
  Bytes tiny = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F', 'I', 'F', 0};
  Tiff t;
  t.dir({t.ascii(271, "Maker"), t.raw(46, 7, 11, tiny)});
  TempFile tmp("eleven.rw2", t.bytes());
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.length, 11u + 1386);
  EXPECT_EQ(Bytes(r.data.begin() + 1388, r.data.end()), Bytes(tiny.begin() + 2, tiny.end()));
}

// One rule answers "is there a usable preview" for the test, the extraction
// and the report. The test and the report once said yes to previews that
// extraction refuses (past the end, too short), so the job took such a file
// as a candidate and then reported it as a failure.
TEST(ExtractPreview, HasPreviewAndReportSayNoWhereExtractionRefuses) {
  const Bytes full = jfif_preview(3000);
  Bytes no_marker = jfif_preview(800);
  no_marker[2] = 0x00;
  struct Case {
    const char* name;
    Bytes preview;        // stored last in the file
    std::uint32_t length;  // the length the directory claims
    bool usable;
  } cases[] = {
      {"ends at the end of the file", full, 3000, true},
      {"one byte past the end", full, 3001, false},
      {"far past the end", full, 3000 + 100000, false},
      {"length wraps past 4 GiB", full, 0xFFFFFFF0u, false},
      {"eleven bytes", Bytes(full.begin(), full.begin() + 11), 11, true},
      {"ten bytes", Bytes(full.begin(), full.begin() + 10), 10, false},
      {"no marker after the start", no_marker, 800, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile tmp("usable.cr2", strip_preview_file(c.preview, {}, c.length));
    ProbeReport report;
    ASSERT_TRUE(probe_report(tmp.native(), report));
    ASSERT_EQ(report.preview_length, c.length);  // located either way
    EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), c.usable ? 1 : 0);
    EXPECT_EQ(report.has_jpeg_preview, c.usable);
    Extracted r = extract(tmp.native());
    EXPECT_EQ(r.ok, c.usable ? 1 : 0);
    EXPECT_EQ(r.buffer_null, !c.usable);
  }
}

TEST(ExtractPreview, UnreadablePathLeavesTheOutputsAlone) {
  NativePath missing = native_path(std::filesystem::path(testing::TempDir()) / "veltrano_core_missing.nef");
  unsigned char sentinel = 0;
  unsigned char* buffer = &sentinel;
  std::uint32_t length = 1234, rotated = 5678;
  EXPECT_EQ(probe_extract_jpeg_preview(missing, kVeltranoSoftware, &buffer, &length, &rotated, kDefaultExifMode), 0);
  EXPECT_EQ(buffer, &sentinel);
  EXPECT_EQ(length, 1234u);
  EXPECT_EQ(rotated, 5678u);
  EXPECT_EQ(probe_has_jpeg_preview(missing), 0);
}

TEST(ExtractPreview, NoPreviewSetsTheBufferToNoneOnly) {
  Tiff t;
  t.dir({t.ascii(271, "Maker"), t.ascii(272, "Body")});
  TempFile tmp("no_preview.nef", t.bytes());
  unsigned char sentinel = 0;
  unsigned char* buffer = &sentinel;
  std::uint32_t length = 1234, rotated = 5678;
  EXPECT_EQ(probe_extract_jpeg_preview(tmp.native(), nullptr, &buffer, &length, &rotated, kDefaultExifMode), 0);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(length, 1234u);
  EXPECT_EQ(rotated, 5678u);
}

// The stored bytes after the start-of-image marker are handed out as they
// are; the probe does not judge them.
// A "preview" whose bytes after the start marker are no JPEG marker (a
// placeholder text, or data behind a stale offset) is not a JPEG preview:
// neither entry point hands it out, and both agree, so the job never counts
// a file it cannot extract. Only bytes 0-1 are forced to FF D8.
TEST(ExtractPreview, PreviewWithoutAMarkerAfterTheStartIsNoJpeg) {
  Bytes preview = jfif_preview(800);
  preview[2] = 0x00;  // no marker right after SOI
  TempFile tmp("odd_third_byte.cr2", strip_preview_file(preview));
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 0);
  Extracted r = extract(tmp.native());
  EXPECT_EQ(r.ok, 0);

  Bytes damaged_start = jfif_preview(800);
  damaged_start[0] = 0x00;  // the start marker itself is forced, not judged
  damaged_start[1] = 0x00;
  TempFile kept("odd_start.cr2", strip_preview_file(damaged_start));
  EXPECT_EQ(probe_has_jpeg_preview(kept.native()), 1);
  Extracted k = extract(kept.native());
  ASSERT_EQ(k.ok, 1);
  EXPECT_EQ(k.length, 800u + 1386);
  EXPECT_EQ(k.data[0], 0xFF);
  EXPECT_EQ(k.data[1], 0xD8);
}

TEST(ExtractPreview, RotationFromTheOrientationTag) {
  struct Case {
    std::uint16_t tiff_value;
    std::uint16_t exif_orientation;
    std::uint32_t rotated;
  } cases[] = {{1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {4, 4, 0}, {5, 5, 1}, {6, 6, 1}, {7, 7, 1}, {8, 8, 1}};
  Tiff t;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tiff_value);
    TempFile tmp("rotation.cr2", strip_preview_file(jfif_preview(600), {t.short_(274, c.tiff_value)}));
    Extracted r = extract(tmp.native());
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.rotated, c.rotated);
    // Orientation entry: fourth of the first directory.
    EXPECT_EQ(host16(r.data, 12 + 12 + 3 * 12), 274);
    EXPECT_EQ(host16(r.data, 12 + 12 + 3 * 12 + 8), c.exif_orientation);
  }
}

TEST(ExtractPreview, SoftwareText) {
  struct Case {
    const char* software;
    std::string field;  // 32 bytes
  } cases[] = {
      {"Veltrano v1.50", std::string("Veltrano v1.50") + std::string(18, '\0')},
      {"A software text longer than thirty-one characters",
       std::string("A software text longer than thi") + std::string(1, '\0')},
      {"", std::string(32, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.software);
    TempFile tmp("software.cr2", strip_preview_file(jfif_preview(600)));
    Extracted r = extract(tmp.native(), c.software);
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(std::string(r.data.begin() + 12 + 1260, r.data.begin() + 12 + 1292), c.field);
  }
  TempFile tmp("software_default.cr2", strip_preview_file(jfif_preview(600)));
  Extracted r = extract(tmp.native(), nullptr);
  ASSERT_EQ(r.ok, 1);
  std::string field(r.data.begin() + 12 + 1260, r.data.begin() + 12 + 1292);
  EXPECT_NE(field[0], '\0');            // some default text
  EXPECT_EQ(field[31], '\0');           // at most 31 characters
}

TEST(ExtractPreview, PpmThumbnailIsNoJpegPreview) {
  Tiff t;
  auto d = t.dir({t.long_(256, 16), t.long_(257, 12), t.raw(258, 3, 3, {8, 0, 8, 0, 8, 0}), t.short_(259, 1),
                  t.ascii(271, "Maker"), t.long_(273, 0), t.short_(277, 3), t.long_(279, 576)});
  t.patch32(d.value_field[5], t.append(Bytes(576, 0x80)));
  TempFile tmp("ppm.tif", t.bytes());
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 0);
  Extracted r = extract(tmp.native());
  EXPECT_EQ(r.ok, 0);
  EXPECT_TRUE(r.buffer_null);
}

// ---------------------------------------------------------------------------
// The Exif block, built from a probe record set up by hand

struct BlockFixture {
  ScopedProbe probe{Bytes(16, 0)};
  Bytes block = Bytes(kExifBlockSize, 0xEE);
  void build() { build_exif_header_block(block.data()); }
};

struct ExpectedEntry {
  std::uint16_t tag, type;
  std::uint32_t count, value;
};

void expect_entry(const Bytes& b, std::size_t at, const ExpectedEntry& e) {
  SCOPED_TRACE(testing::Message() << "entry at " << at << " tag " << e.tag);
  EXPECT_EQ(host16(b, at), e.tag);
  EXPECT_EQ(host16(b, at + 2), e.type);
  EXPECT_EQ(host32(b, at + 4), e.count);
  EXPECT_EQ(host32(b, at + 8), e.value);
}

bool all_zero(const Bytes& b, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

TEST(ExifBlock, LayoutWithoutGps) {
  BlockFixture f;
  g_probe.orientation_code = 0;
  g_probe.iso_rating = 400;
  g_probe.exposure_seconds = 1.0f / 250;
  g_probe.f_number = 8;
  g_probe.focal_length_mm = 55;
  f.build();
  const Bytes& b = f.block;
  EXPECT_EQ(b[0], 'I');
  EXPECT_EQ(b[1], 'I');
  EXPECT_EQ(host16(b, 2), 42);
  EXPECT_EQ(host32(b, 4), 10u);
  EXPECT_EQ(host16(b, 8), 0);
  EXPECT_EQ(host16(b, 10), 12);
  const ExpectedEntry ifd0[12] = {
      {270, 2, 512, 620}, {271, 2, 64, 1132},  {272, 2, 64, 1196},  {274, 3, 1, 1},
      {282, 5, 1, 476},   {283, 5, 1, 484},    {284, 3, 1, 1},      {296, 3, 1, 2},
      {305, 2, 32, 1260}, {306, 2, 20, 1292},  {315, 2, 64, 1312},  {34665, 4, 1, 294},
  };
  for (int i = 0; i < 12; ++i) expect_entry(b, 12 + 12 * i, ifd0[i]);
  EXPECT_TRUE(all_zero(b, 12 + 12 * 12, 294));  // next-directory word and the gap
  EXPECT_EQ(host16(b, 294), 4);
  const ExpectedEntry exif[4] = {
      {33434, 5, 1, 492}, {33437, 5, 1, 500}, {34855, 3, 1, 400}, {37386, 5, 1, 508}};
  for (int i = 0; i < 4; ++i) expect_entry(b, 296 + 12 * i, exif[i]);
  EXPECT_TRUE(all_zero(b, 344, 476));  // no GPS directory
  EXPECT_EQ(host32(b, 476), 300u);
  EXPECT_EQ(host32(b, 480), 1u);
  EXPECT_EQ(host32(b, 484), 300u);
  EXPECT_EQ(host32(b, 488), 1u);
  EXPECT_EQ(host32(b, 492), 4000u);
  EXPECT_EQ(host32(b, 496), 1000000u);
  EXPECT_EQ(host32(b, 500), 8000000u);
  EXPECT_EQ(host32(b, 504), 1000000u);
  EXPECT_EQ(host32(b, 508), 55000000u);
  EXPECT_EQ(host32(b, 512), 1000000u);
  EXPECT_TRUE(all_zero(b, 516, 620));  // no GPS data
  EXPECT_TRUE(all_zero(b, 620, 1260));  // empty texts
  EXPECT_TRUE(all_zero(b, 1312, 1376));
}

// The Exif directory's next-directory word (344-347) reads zero with GPS too:
// the GPS directory once began at 346 and made it read 0x000A0000, which
// readers flag as a broken pointer.
TEST(ExifBlock, LayoutWithGps) {
  BlockFixture f;
  g_probe.orientation_code = 0;
  for (int i = 0; i < 26; ++i) g_probe.gps_words[i] = 0x01010101u * static_cast<std::uint32_t>(i + 1);
  g_probe.gps_words[29] = 'S';
  g_probe.gps_words[30] = 'E';
  g_probe.gps_words[31] = 1;
  f.build();
  const Bytes& b = f.block;
  EXPECT_EQ(host16(b, 10), 13);
  expect_entry(b, 12 + 12 * 11, {34665, 4, 1, 294});
  expect_entry(b, 12 + 12 * 12, {34853, 4, 1, 348});
  EXPECT_TRUE(all_zero(b, 12 + 12 * 13, 294));
  EXPECT_EQ(host32(b, 344), 0u);
  EXPECT_EQ(host16(b, 348), 10);
  const ExpectedEntry gps[10] = {
      {0, 1, 4, 0x00000202}, {1, 2, 2, 'S'},       {2, 5, 3, 516},  {3, 2, 2, 'E'},   {4, 5, 3, 540},
      {5, 1, 1, 1},          {6, 5, 1, 588},       {7, 5, 3, 564},  {18, 2, 12, 596}, {29, 2, 12, 608},
  };
  for (int i = 0; i < 10; ++i) expect_entry(b, 350 + 12 * i, gps[i]);
  // GPSVersionID bytes 2, 2, 0, 0 in order.
  EXPECT_EQ(b[350 + 8], 2);
  EXPECT_EQ(b[350 + 9], 2);
  EXPECT_EQ(b[350 + 10], 0);
  EXPECT_EQ(b[350 + 11], 0);
  EXPECT_TRUE(all_zero(b, 470, 476));
  for (int i = 0; i < 26; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(host32(b, 516 + 4 * i), g_probe.gps_words[i]);
  }
}

TEST(ExifBlock, OrientationForEveryCode) {
  const std::uint16_t exif_value[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  for (int code = 0; code < 8; ++code) {
    SCOPED_TRACE(code);
    BlockFixture f;
    g_probe.orientation_code = code;
    f.build();
    EXPECT_EQ(host16(f.block, 12 + 3 * 12 + 8), exif_value[code]);
    EXPECT_EQ(host16(f.block, 12 + 3 * 12 + 10), 0);
  }
}

TEST(ExifBlock, RationalsAreMillionthsTruncated) {
  struct Case {
    float value;
    std::uint32_t millionths;
  } cases[] = {{1.0f / 250, 4000}, {0.5f, 500000}, {30.0f, 30000000}, {1.0f / 15, 66666}, {0.0f, 0},
               {2.8f, 2800000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    BlockFixture f;
    g_probe.orientation_code = 0;
    g_probe.exposure_seconds = c.value;
    g_probe.f_number = c.value;
    g_probe.focal_length_mm = c.value;
    f.build();
    EXPECT_EQ(host32(f.block, 492), c.millionths);
    EXPECT_EQ(host32(f.block, 500), c.millionths);
    EXPECT_EQ(host32(f.block, 508), c.millionths);
  }
}

TEST(ExifBlock, IsoIsTruncatedAndSplitIntoHalves) {
  struct Case {
    float iso;
    std::uint16_t low, high;
  } cases[] = {{400.9f, 400, 0}, {100000.0f, 0x86A0, 1}, {0.0f, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.iso);
    BlockFixture f;
    g_probe.orientation_code = 0;
    g_probe.iso_rating = c.iso;
    f.build();
    EXPECT_EQ(host16(f.block, 296 + 2 * 12 + 8), c.low);
    EXPECT_EQ(host16(f.block, 296 + 2 * 12 + 10), c.high);
  }
}

TEST(ExifBlock, DateTimeIsTheUtcBreakdown) {
  struct Case {
    std::int64_t t;
    const char* text;
  } cases[] = {{0, "1970:01:01 00:00:00"},
               {1275395400, "2010:06:01 12:30:00"},
               {951868799, "2000:02:29 23:59:59"},
               {4102444800, "2100:01:01 00:00:00"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BlockFixture f;
    g_probe.orientation_code = 0;
    g_probe.capture_time = c.t;
    f.build();
    EXPECT_EQ(std::string(f.block.begin() + 1292, f.block.begin() + 1311), c.text);
    EXPECT_EQ(f.block[1311], 0);
  }
}

TEST(ExifBlock, TextFields) {
  BlockFixture f;
  g_probe.orientation_code = 0;
  set_text(g_probe.image_description, std::string(600, 'd').c_str());
  set_text(g_probe.camera_make, "Canon");
  set_text(g_probe.camera_model, "EOS 350D DIGITAL");
  set_text(g_probe.artist_name, "Jo Photographer");
  f.build();
  const Bytes& b = f.block;
  EXPECT_EQ(std::string(b.begin() + 620, b.begin() + 620 + 511), std::string(511, 'd'));
  EXPECT_EQ(b[1131], 0);
  EXPECT_EQ(std::string(b.begin() + 1132, b.begin() + 1137), "Canon");
  EXPECT_TRUE(all_zero(b, 1137, 1196));
  EXPECT_EQ(std::string(b.begin() + 1196, b.begin() + 1212), "EOS 350D DIGITAL");
  EXPECT_TRUE(all_zero(b, 1212, 1260));
  EXPECT_EQ(std::string(b.begin() + 1312, b.begin() + 1327), "Jo Photographer");
  EXPECT_TRUE(all_zero(b, 1327, 1376));
}

TEST(ExifBlock, OrientationOutsideTheCodesStaysInTheTable) {
  const std::int32_t codes[] = {90, 180, 270, 8, -1, 1000, -2147483647 - 1};
  for (std::int32_t code : codes) {
    SCOPED_TRACE(code);
    BlockFixture f;
    g_probe.orientation_code = code;
    f.build();
    std::uint16_t v = host16(f.block, 12 + 3 * 12 + 8);
    EXPECT_GE(v, 1);
    EXPECT_LE(v, 8);
  }
  BlockFixture f;
  g_probe.orientation_code = 90;  // a quarter turn clockwise
  f.build();
  EXPECT_EQ(host16(f.block, 12 + 3 * 12 + 8), 6);
}

// ---------------------------------------------------------------------------
// The block as the entry point writes it, from metadata read out of a file

TEST(ExifBlock, FromAFileEndToEnd) {
  use_utc();
  Tiff t;
  std::string description(512, 0);
  std::memcpy(description.data(), "Harbour", 7);
  Bytes preview = jfif_preview(900);
  Tiff exif_t;  // unused helper for encodings
  (void)exif_t;
  Bytes file;
  {
    std::vector<Entry> e = {t.long_(256, 640), t.long_(257, 480), t.raw(258, 3, 3, {8, 0, 8, 0, 8, 0}),
                            t.short_(259, 6), t.raw(270, 2, 512, Bytes(description.begin(), description.end())),
                            t.ascii(271, "NIKON CORPORATION"), t.ascii(272, "NIKON D70"), t.long_(273, 0),
                            t.short_(274, 6), t.short_(277, 3), t.long_(279, static_cast<std::uint32_t>(preview.size())),
                            t.ascii(306, "2004:06:09 16:02:35"), t.long_(34665, 0)};
    auto d = t.dir(e);
    t.patch32(d.value_field[7], t.append(preview));
    t.patch32(d.value_field[12], t.here());
    t.dir({t.rational(33434, 1, 20), t.rational(33437, 35, 10), t.short_(34855, 200), t.rational(37386, 18, 1)});
    file = t.bytes();
  }
  TempFile tmp("end_to_end.nef", file);
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.length, 900u + 1386);
  EXPECT_EQ(r.rotated, 1u);
  Bytes b(r.data.begin() + 12, r.data.begin() + 12 + 1376);
  EXPECT_EQ(std::string(b.begin() + 620, b.begin() + 628), std::string("Harbour\0", 8));
  // The names as recorded, not the probe's short forms "NIKON" and "D70".
  EXPECT_EQ(std::string(b.begin() + 1132, b.begin() + 1150), std::string("NIKON CORPORATION\0", 18));
  EXPECT_EQ(std::string(b.begin() + 1196, b.begin() + 1206), std::string("NIKON D70\0", 10));
  EXPECT_EQ(std::string(b.begin() + 1292, b.begin() + 1311), "2004:06:09 16:02:35");
  EXPECT_EQ(host16(b, 12 + 3 * 12 + 8), 6);
  EXPECT_EQ(host32(b, 492), 50000u);
  EXPECT_EQ(host32(b, 500), 3500000u);
  EXPECT_EQ(host32(b, 508), 18000000u);
  EXPECT_EQ(host16(b, 296 + 2 * 12 + 8), 200);
  EXPECT_EQ(std::string(b.begin() + 1260, b.begin() + 1275), std::string("Veltrano v1.50\0", 15));
}

// Text fields hold the text and zeros after it, whatever the probe record
// holds behind the text's end (block reads of descriptions and artists, the
// bytes a name field reads past the name's end).
TEST(ExifBlock, TextFieldsAreZeroAfterTheText) {
  Tiff t;
  std::string description(512, 'Z');
  std::memcpy(description.data(), "Harbour", 8);  // NUL after the text, then file bytes
  std::string artist(64, 'Q');
  std::memcpy(artist.data(), "Jo", 3);
  Bytes preview = jfif_preview(700);
  std::string model = "Canon " + std::string(50, 'X');  // written as recorded, the prefix kept
  auto d = t.dir({t.long_(256, 640), t.long_(257, 480), t.raw(258, 3, 3, {8, 0, 8, 0, 8, 0}), t.short_(259, 6),
                  t.raw(270, 2, 512, Bytes(description.begin(), description.end())), t.ascii(271, "Canon"),
                  t.ascii(272, model), t.long_(273, 0), t.short_(277, 3),
                  t.long_(279, static_cast<std::uint32_t>(preview.size())),
                  t.raw(315, 2, 64, Bytes(artist.begin(), artist.end()))});
  t.patch32(d.value_field[7], t.append(preview));
  TempFile tmp("text_padding.cr2", t.bytes());
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  Bytes b(r.data.begin() + 12, r.data.begin() + 12 + 1376);
  EXPECT_EQ(std::string(b.begin() + 620, b.begin() + 627), "Harbour");
  EXPECT_TRUE(all_zero(b, 627, 1132)) << "description field carries bytes after its text";
  EXPECT_EQ(std::string(b.begin() + 1196, b.begin() + 1196 + 56), model);
  EXPECT_TRUE(all_zero(b, 1196 + 56, 1260)) << "model field carries bytes after its text";
  EXPECT_EQ(std::string(b.begin() + 1312, b.begin() + 1314), "Jo");
  EXPECT_TRUE(all_zero(b, 1314, 1376)) << "artist field carries bytes after its text";
}

}  // namespace

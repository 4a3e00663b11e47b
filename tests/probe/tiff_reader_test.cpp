// The TIFF reader: directory summaries, metadata tags, the Exif, GPS and
// Kodak sub-directories, the JPEG probe of strip offsets, SubIFDs, and the
// limits that keep hostile structures cheap.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "probe/probe_input.h"
#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/core_builders.h"

namespace {

using core_test::Bytes;
using core_test::Entry;
using core_test::JpegApp;
using core_test::make_jpeg;
using core_test::Tiff;

void use_utc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

// Reads the structure as the whole-file entry does.
void read_all(Tiff& t) {
  ScopedProbe probe(t.bytes(), 0);
  ASSERT_EQ(read_tiff_file(0), 1);
}

// ---------------------------------------------------------------------------
// read_tiff_file

TEST(ReadTiffFile, NeedsAByteOrderMark) {
  Tiff t;
  t.dir({t.ascii(271, "Maker")});
  Bytes bytes = t.bytes();
  bytes[0] = 'I';
  bytes[1] = 'M';
  ScopedProbe probe(bytes);
  EXPECT_EQ(read_tiff_file(0), 0);
  EXPECT_EQ(g_probe.tiff_dir_count, 0u);
  EXPECT_STREQ(g_probe.camera_make, "");
}

TEST(ReadTiffFile, FortyTwoIsNotTested) {
  Tiff t;
  t.dir({t.ascii(271, "Maker")});
  Bytes bytes = t.bytes();
  bytes[2] = 0x55;  // RW2 and ORF heads carry other numbers here
  ScopedProbe probe(bytes);
  EXPECT_EQ(read_tiff_file(0), 1);
  EXPECT_STREQ(g_probe.camera_make, "Maker");
}

TEST(ReadTiffFile, FollowsTheDirectoryChainInBothByteOrders) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    Tiff t(little);
    auto d0 = t.dir({t.long_(256, 640), t.long_(257, 480)});
    t.patch32(d0.next_field, t.here());
    auto d1 = t.dir({t.short_(256, 160), t.short_(257, 120)});
    (void)d1;
    ScopedProbe probe(t.bytes());
    ASSERT_EQ(read_tiff_file(0), 1);
    ASSERT_EQ(g_probe.tiff_dir_count, 2u);
    EXPECT_EQ(g_probe.tiff_dirs[0].width, 640);
    EXPECT_EQ(g_probe.tiff_dirs[0].height, 480);
    EXPECT_EQ(g_probe.tiff_dirs[1].width, 160);
    EXPECT_EQ(g_probe.tiff_dirs[1].height, 120);
    EXPECT_EQ(g_probe.byte_order, little ? 0x4949 : 0x4D4D);
  }
}

TEST(ReadTiffFile, OffsetsCountFromTheBase) {
  Tiff t;
  t.dir({t.long_(273, 0x40), t.ascii(271, "Based maker text")});
  Bytes bytes(100, 0x00);
  bytes.insert(bytes.end(), t.bytes().begin(), t.bytes().end());
  bytes.resize(400, 0);
  ScopedProbe probe(bytes);
  ASSERT_EQ(read_tiff_file(100), 1);
  EXPECT_STREQ(g_probe.camera_make, "Based maker text");
  EXPECT_EQ(g_probe.tiff_dirs[0].data_offset, 100 + 0x40);
}

// ---------------------------------------------------------------------------
// Directory summaries

TEST(ReadTiffDir, ImageTagsFillTheSummary) {
  Tiff t;
  Bytes bits3 = t.enc16(12);
  for (int i = 0; i < 2; ++i) {
    Bytes more = t.enc16(12);
    bits3.insert(bits3.end(), more.begin(), more.end());
  }
  t.dir({t.long_(256, 3000), t.long_(257, 2000), t.raw(258, 3, 3, bits3), t.short_(259, 7), t.short_(262, 32803),
         t.long_(273, 5000), t.short_(274, 6), t.long_(279, 123456)});
  read_all(t);
  const TiffDirInfo& d = g_probe.tiff_dirs[0];
  EXPECT_EQ(d.width, 3000);
  EXPECT_EQ(d.height, 2000);
  EXPECT_EQ(d.bits_per_sample, 12);
  EXPECT_EQ(d.samples_per_pixel, 3);  // count of tag 258
  EXPECT_EQ(d.compression, 7);
  EXPECT_EQ(d.photometric, 32803);
  EXPECT_EQ(d.data_offset, 5000);
  EXPECT_EQ(d.orientation, 6);
  EXPECT_EQ(d.byte_count, 123456);
}

TEST(ReadTiffDir, AlternativeTagsForSizeOffsetAndLength) {
  Tiff t;
  t.dir({t.short_(2, 320), t.short_(3, 240), t.short_(277, 4 + 8), t.long_(513, 777), t.long_(514, 99)});
  read_all(t);
  const TiffDirInfo& d = g_probe.tiff_dirs[0];
  EXPECT_EQ(d.width, 320);
  EXPECT_EQ(d.height, 240);
  EXPECT_EQ(d.samples_per_pixel, 4);  // low three bits
  EXPECT_EQ(d.data_offset, 777);
  EXPECT_EQ(d.byte_count, 99);
}

TEST(ReadTiffDir, OrientationValuesUseTheLowThreeBits) {
  // TIFF Orientation value -> orientation code.
  const int expected[10] = {5, 0, 1, 3, 2, 4, 6, 7, 5, 0};
  for (int value = 0; value <= 9; ++value) {
    SCOPED_TRACE(value);
    Tiff t;
    t.dir({t.short_(274, static_cast<std::uint16_t>(value))});
    read_all(t);
    EXPECT_EQ(g_probe.tiff_dirs[0].orientation, expected[value]);
  }
}

// ---------------------------------------------------------------------------
// Metadata tags

TEST(ReadTiffDir, TextTags) {
  use_utc();
  std::string description(512, 0);
  std::memcpy(description.data(), "A lake at dawn", 14);
  std::string artist(64, 0);
  std::memcpy(artist.data(), "Jo Photographer", 15);
  Tiff t;
  t.dir({t.raw(270, 2, 512, Bytes(description.begin(), description.end())), t.ascii(271, "Maker Corp  "),
         t.ascii(272, "Model One"), t.ascii(306, "2010:06:01 12:30:00"),
         t.raw(315, 2, 64, Bytes(artist.begin(), artist.end())), t.ascii(33405, "Detail text")});
  read_all(t);
  EXPECT_STREQ(g_probe.image_description, "A lake at dawn");
  EXPECT_STREQ(g_probe.camera_make, "Maker Corp  ");
  EXPECT_STREQ(g_probe.camera_model, "Model One");
  EXPECT_STREQ(g_probe.artist_name, "Jo Photographer");
  EXPECT_STREQ(g_probe.model_detail, "Detail text");
  EXPECT_EQ(g_probe.capture_time, 1275395400);
}

TEST(ReadTiffDir, MakeTextEndsAfterANewlineOrAt63Characters) {
  {
    Tiff t;
    t.dir({t.ascii(271, "Line one\nLine two")});
    read_all(t);
    EXPECT_STREQ(g_probe.camera_make, "Line one\n");
  }
  {
    std::string longtext(80, 'M');
    Tiff t;
    t.dir({t.ascii(272, longtext)});
    read_all(t);
    EXPECT_EQ(std::string(g_probe.camera_model), std::string(63, 'M'));
  }
}

TEST(ReadTiffDir, ModelDetailOfTag65026OnlyAsText) {
  {
    Tiff t;
    t.dir({t.ascii(65026, "Back 22")});
    read_all(t);
    EXPECT_STREQ(g_probe.model_detail, "Back 22");
  }
  {
    Tiff t;
    t.dir({t.raw(65026, 7, 8, Bytes{'B', 'a', 'c', 'k', ' ', '2', '2', 0})});
    read_all(t);
    EXPECT_STREQ(g_probe.model_detail, "");
  }
}

TEST(ReadTiffDir, SoftwareOfProcessedFiles) {
  struct Case {
    const char* software;
    std::int32_t raw_supported;
  } cases[] = {
      {"Adobe Photoshop Lightroom", 0},
      {"Adobe", 0},
      {"AdobeX", 0},
      {"UFRaw 0.18", 0},
      {"Bibble 5 Pro", 0},
      {"Nikon Scan 4.0.2", 0},
      {"Digital Photo Professional", 0},
      {"Digital Photo Professional 4", 1},
      {"Digital Photo Pro", 1},
      {"Nikon Capture Editor 4.3.1 W", 1},
      {"adobe", 1},
      {"Firmware 1.0.3", 1},
  };
  for (std::uint16_t tag : {std::uint16_t{305}, std::uint16_t{11}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << tag << " " << c.software);
      Tiff t;
      t.dir({t.ascii(tag, c.software)});
      read_all(t);
      EXPECT_EQ(g_probe.raw_supported, c.raw_supported);
    }
  }
}

TEST(ReadTiffDir, ExposureApertureFocalLengthAndIsoInTheMainDirectory) {
  Tiff t(false);
  t.dir({t.short_(23, 640), t.rational(33434, 1, 125), t.rational(33437, 56, 10), t.rational(37386, 35, 1)});
  read_all(t);
  EXPECT_FLOAT_EQ(g_probe.iso_rating, 640);
  EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 1.0f / 125);
  EXPECT_FLOAT_EQ(g_probe.f_number, 5.6f);
  EXPECT_FLOAT_EQ(g_probe.focal_length_mm, 35);
}

TEST(ReadTiffDir, IsoTag23OnlyAsShort) {
  Tiff t;
  t.dir({t.long_(23, 800)});
  read_all(t);
  EXPECT_EQ(g_probe.iso_rating, 0);
}

TEST(ReadTiffDir, DngVersion) {
  {
    Tiff t;
    t.dir({t.raw(50706, 1, 4, {1, 4, 0, 0})});
    ScopedProbe probe(t.bytes());
    g_probe.raw_supported = 0;
    ASSERT_EQ(read_tiff_file(0), 1);
    EXPECT_EQ(g_probe.dng_version, 0x01040000u);
    EXPECT_STREQ(g_probe.camera_make, "DNG");
    EXPECT_EQ(g_probe.raw_supported, 1);
  }
  {
    Tiff t(false);
    t.dir({t.ascii(271, "Canon"), t.raw(50706, 1, 4, {1, 2, 3, 4})});
    read_all(t);
    EXPECT_EQ(g_probe.dng_version, 0x01020304u);
    EXPECT_STREQ(g_probe.camera_make, "Canon");
  }
}

// ---------------------------------------------------------------------------
// Tag 46: a JPEG preview as an undefined-type value

TEST(ReadTiffDir, Tag46LocatesAJpegPreview) {
  Bytes jpeg = make_jpeg(64, 48, 3);
  {
    Tiff t;
    auto d = t.dir({t.raw(46, 7, static_cast<std::uint32_t>(jpeg.size()), jpeg)});
    ScopedProbe probe(t.bytes());
    ASSERT_EQ(read_tiff_file(0), 1);
    std::uint32_t value_at = static_cast<std::uint32_t>(t.bytes()[d.value_field[0]] | t.bytes()[d.value_field[0] + 1] << 8);
    EXPECT_EQ(g_probe.preview_offset, static_cast<std::int32_t>(value_at));
    EXPECT_EQ(g_probe.preview_length, jpeg.size());
    EXPECT_EQ(t.bytes()[value_at], 0xFF);
    EXPECT_EQ(t.bytes()[value_at + 1], 0xD8);
  }
  {
    Tiff t;  // wrong type
    t.dir({t.raw(46, 1, static_cast<std::uint32_t>(jpeg.size()), jpeg)});
    read_all(t);
    EXPECT_EQ(g_probe.preview_offset, 0);
    EXPECT_EQ(g_probe.preview_length, 0u);
  }
  {
    Bytes not_jpeg = jpeg;
    not_jpeg[1] = 0xD9;
    Tiff t;
    t.dir({t.raw(46, 7, static_cast<std::uint32_t>(not_jpeg.size()), not_jpeg)});
    read_all(t);
    EXPECT_EQ(g_probe.preview_offset, 0);
  }
}

// ---------------------------------------------------------------------------
// Exif, GPS and Kodak sub-directories

TEST(ReadExifDir, ExposureApertureIsoTimeAndFocalLength) {
  use_utc();
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    Tiff t(little);
    auto d0 = t.dir({t.long_(34665, 0)});
    t.patch32(d0.value_field[0], t.here());
    t.dir({t.rational(33434, 1, 250), t.rational(33437, 28, 10), t.short_(34855, 400),
           t.ascii(36867, "2009:12:24 18:00:05"), t.rational(37386, 50, 1)});
    read_all(t);
    EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 0.004f);
    EXPECT_FLOAT_EQ(g_probe.f_number, 2.8f);
    EXPECT_FLOAT_EQ(g_probe.iso_rating, 400);
    EXPECT_FLOAT_EQ(g_probe.focal_length_mm, 50);
    EXPECT_EQ(g_probe.capture_time, 1261677605);  // 2009-12-24 18:00:05
    EXPECT_EQ(g_probe.tiff_dir_count, 1u);  // the Exif directory has no summary
  }
}

// ShutterSpeedValue and ApertureValue follow ExposureTime and FNumber in a
// sorted directory and used to replace them: a real 1/100 s at f/22 came
// out as 1/99 s at f/22.6. They now stand in only for a missing value.
TEST(ReadExifDir, ApexValuesStandInOnlyForMissingExposureAndFNumber) {
  for (bool recorded : {true, false}) {
    SCOPED_TRACE(recorded ? "ExposureTime and FNumber recorded" : "APEX values only");
    Tiff t;
    auto d0 = t.dir({t.long_(34665, 0)});
    t.patch32(d0.value_field[0], t.here());
    std::vector<core_test::Entry> exif = {t.ascii(36868, "2011:01:02 03:04:05"), t.rational(37377, 53, 8, 10),
                                          t.rational(37378, 9, 1)};
    if (recorded) exif.insert(exif.begin(), {t.rational(33434, 1, 100), t.rational(33437, 22, 1)});
    t.dir(exif);
    read_all(t);
    EXPECT_FLOAT_EQ(g_probe.exposure_seconds, recorded ? 0.01f : static_cast<float>(std::pow(2.0, -6.625)));
    EXPECT_FLOAT_EQ(g_probe.f_number, recorded ? 22.0f : static_cast<float>(std::pow(2.0, 4.5)));
    EXPECT_EQ(g_probe.capture_time, 1293937445);  // CreateDate also read
  }
}

TEST(ReadExifDir, AbsurdShutterSpeedIsIgnored) {
  Tiff t;
  auto d0 = t.dir({t.long_(34665, 0)});
  t.patch32(d0.value_field[0], t.here());
  t.dir({t.rational(33434, 1, 60), t.rational(37377, static_cast<std::uint32_t>(-200), 1, 10)});
  read_all(t);
  EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 1.0f / 60);  // -(-200) = 200 is not below 128
}

TEST(ReadGpsDir, WordsLayout) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    Tiff t(little);
    auto d0 = t.dir({t.long_(34853, 0)});
    t.patch32(d0.value_field[0], t.here());
    auto rationals = [&](std::vector<std::uint32_t> v) {
      Bytes b;
      for (std::uint32_t x : v) {
        Bytes e = t.enc32(x);
        b.insert(b.end(), e.begin(), e.end());
      }
      return b;
    };
    t.dir({t.raw(1, 2, 2, {'N', 0}), t.raw(2, 5, 3, rationals({48, 1, 51, 1, 2913, 100})),
           t.raw(3, 2, 2, {'W', 0}), t.raw(4, 5, 3, rationals({2, 1, 17, 1, 4012, 100})),
           t.raw(5, 1, 1, {1}), t.raw(6, 5, 1, rationals({3512, 10})),
           t.raw(7, 5, 3, rationals({12, 1, 30, 1, 0, 1})), t.ascii(18, "WGS-84"),
           t.ascii(29, "2010:06:01"), });
    read_all(t);
    const std::uint32_t* w = g_probe.gps_words;
    const std::uint32_t expected[20] = {48, 1, 51, 1, 2913, 100, 2, 1, 17, 1, 4012, 100,
                                        12, 1, 30, 1, 0,    1,   3512, 10};
    for (int i = 0; i < 20; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(w[i], expected[i]);
    }
    char datum[12] = "WGS-84";
    EXPECT_EQ(std::memcmp(w + 20, datum, 12), 0);
    char date[12] = "2010:06:01";
    EXPECT_EQ(std::memcmp(w + 23, date, 12), 0);
    EXPECT_EQ(w[26], 0u);
    EXPECT_EQ(w[27], 0u);
    EXPECT_EQ(w[28], 0u);
    EXPECT_EQ(w[29], static_cast<std::uint32_t>('N'));
    EXPECT_EQ(w[30], static_cast<std::uint32_t>('W'));
    EXPECT_EQ(w[31], 1u);
  }
}

TEST(ReadGpsDir, TextsAreCutToElevenCharacters) {
  Tiff t;
  auto d0 = t.dir({t.long_(34853, 0)});
  t.patch32(d0.value_field[0], t.here());
  t.dir({t.ascii(18, "A very long map datum"), t.raw(29, 2, 5, {'2', '0', '1', '9', '9'})});
  read_all(t);
  char datum[12] = "A very long";
  EXPECT_EQ(std::memcmp(g_probe.gps_words + 20, datum, 12), 0);
  char date[12] = "2019";  // count 5: four characters
  EXPECT_EQ(std::memcmp(g_probe.gps_words + 23, date, 12), 0);
}

TEST(ReadKodakDir, IsoAndOutputSize) {
  for (std::uint16_t tag : {std::uint16_t{33424}, std::uint16_t{65024}}) {
    SCOPED_TRACE(tag);
    Tiff t;
    auto d0 = t.dir({t.long_(tag, 0)});
    t.patch32(d0.value_field[0], t.here());
    t.dir({t.short_(6020, 160), t.long_(64019, 3000), t.short_(64020, 2001)});
    read_all(t);
    EXPECT_FLOAT_EQ(g_probe.iso_rating, 160);
    EXPECT_EQ(g_probe.image_width, 3000);
    EXPECT_EQ(g_probe.image_height, 2002);  // rounded up to even
  }
}

// ---------------------------------------------------------------------------
// The JPEG probe of strip and JPEG offsets

Bytes exif_tiff_with_make(const std::string& make) {
  Tiff inner(true);
  inner.dir({inner.ascii(271, make), inner.rational(33434, 1, 1000)});
  return inner.bytes();
}

TEST(JpegProbe, StripJpegGetsCompression6SizeColoursAndItsExifRead) {
  for (std::uint16_t tag : {std::uint16_t{273}, std::uint16_t{513}, std::uint16_t{61447}}) {
    SCOPED_TRACE(tag);
    Tiff t(false);  // big-endian file, little-endian Exif inside the JPEG
    auto d = t.dir({t.long_(tag, 0), t.long_(279, 0)});
    Bytes jpeg = make_jpeg(1536, 1024, 3, JpegApp::kExif, exif_tiff_with_make("Inner Maker"));
    std::uint32_t at = t.append(jpeg);
    t.patch32(d.value_field[0], at);
    t.patch32(d.value_field[1], static_cast<std::uint32_t>(jpeg.size()));
    ScopedProbe probe(t.bytes());
    ASSERT_EQ(read_tiff_file(0), 1);
    const TiffDirInfo& dir = g_probe.tiff_dirs[0];
    EXPECT_EQ(dir.compression, 6);
    EXPECT_EQ(dir.width, 1536);
    EXPECT_EQ(dir.height, 1024);
    EXPECT_EQ(dir.bits_per_sample, 8);
    EXPECT_EQ(dir.samples_per_pixel, 3);
    EXPECT_EQ(dir.data_offset, static_cast<std::int32_t>(at));
    // The byte count after the offset was read in the file's own order.
    EXPECT_EQ(dir.byte_count, static_cast<std::int32_t>(jpeg.size()));
    EXPECT_STREQ(g_probe.camera_make, "Inner Maker");
    EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 0.001f);
    EXPECT_EQ(g_probe.byte_order, 0x4D4D);
    EXPECT_EQ(g_probe.tiff_dir_count, 2u);  // the JPEG's IFD0 has its own summary
  }
}

TEST(JpegProbe, EvenColourCountMultipliesTheWidth) {
  Tiff t;
  auto d = t.dir({t.long_(273, 0)});
  t.patch32(d.value_field[0], t.append(make_jpeg(1000, 600, 2)));
  read_all(t);
  EXPECT_EQ(g_probe.tiff_dirs[0].width, 2000);
  EXPECT_EQ(g_probe.tiff_dirs[0].samples_per_pixel, 2);
  EXPECT_EQ(g_probe.tiff_dirs[0].compression, 6);
}

TEST(JpegProbe, KnownBitsSkipTheProbe) {
  Tiff t;
  auto d = t.dir({t.short_(258, 16), t.short_(259, 1), t.long_(273, 0)});
  t.patch32(d.value_field[2], t.append(make_jpeg(100, 80, 3, JpegApp::kExif, exif_tiff_with_make("Hidden"))));
  read_all(t);
  EXPECT_EQ(g_probe.tiff_dirs[0].compression, 1);
  EXPECT_EQ(g_probe.tiff_dirs[0].width, 0);
  EXPECT_STREQ(g_probe.camera_make, "");
}

TEST(JpegProbe, DataThatIsNoJpegLeavesTheSummary) {
  Tiff t;
  auto d = t.dir({t.short_(256, 40), t.long_(273, 0)});
  t.patch32(d.value_field[1], t.append(Bytes(64, 0x12)));
  read_all(t);
  EXPECT_EQ(g_probe.tiff_dirs[0].compression, 0);
  EXPECT_EQ(g_probe.tiff_dirs[0].width, 40);
}

// ---------------------------------------------------------------------------
// SubIFDs

TEST(SubIfds, EveryOffsetIsRead) {
  Tiff t;
  Bytes two(8, 0);
  auto d0 = t.dir({t.ascii(271, "NIKON CORPORATION"), t.raw(330, 4, 2, two)});
  std::uint32_t list = static_cast<std::uint32_t>(t.bytes()[d0.value_field[1]] | t.bytes()[d0.value_field[1] + 1] << 8);
  std::uint32_t a = t.here();
  t.dir({t.long_(256, 160), t.long_(257, 120)});
  std::uint32_t b = t.here();
  t.dir({t.long_(256, 3040), t.long_(257, 2014)});
  t.patch32(list, a);
  t.patch32(list + 4, b);
  read_all(t);
  ASSERT_EQ(g_probe.tiff_dir_count, 3u);
  EXPECT_EQ(g_probe.tiff_dirs[1].width, 160);
  EXPECT_EQ(g_probe.tiff_dirs[2].width, 3040);
  EXPECT_EQ(g_probe.tiff_dirs[2].height, 2014);
}

TEST(SubIfds, SingleOffsetInTheEntry) {
  Tiff t;
  auto d0 = t.dir({t.long_(330, 0), t.short_(259, 1)});
  t.patch32(d0.value_field[0], t.here());
  t.dir({t.long_(256, 77)});
  read_all(t);
  ASSERT_EQ(g_probe.tiff_dir_count, 2u);
  EXPECT_EQ(g_probe.tiff_dirs[1].width, 77);
  EXPECT_EQ(g_probe.tiff_dirs[0].compression, 1);  // entries after the SubIFD tag still count
}

// ---------------------------------------------------------------------------
// Limits

TEST(Limits, TheEleventhDirectoryIsNotRead) {
  Tiff t;
  std::vector<Tiff::Dir> dirs;
  for (int i = 0; i < 11; ++i) {
    std::vector<Entry> e = {t.long_(256, static_cast<std::uint32_t>(100 + i))};
    if (i == 10) e.push_back(t.ascii(271, "Eleventh"));
    if (!dirs.empty()) t.patch32(dirs.back().next_field, t.here());
    dirs.push_back(t.dir(e));
  }
  read_all(t);
  EXPECT_EQ(g_probe.tiff_dir_count, 10u);
  EXPECT_EQ(g_probe.tiff_dirs[9].width, 109);
  EXPECT_STREQ(g_probe.camera_make, "");
}

TEST(Limits, A513EntryDirectoryIsSkippedWhole) {
  for (int n : {512, 513}) {
    SCOPED_TRACE(n);
    Tiff t;
    std::vector<Entry> e = {t.ascii(271, "Many entries"), t.long_(256, 55)};
    while (static_cast<int>(e.size()) < n) e.push_back(t.short_(700, 1));
    auto d0 = t.dir(e);
    t.patch32(d0.next_field, t.here());
    t.dir({t.long_(256, 66)});
    read_all(t);
    if (n == 512) {
      EXPECT_STREQ(g_probe.camera_make, "Many entries");
      EXPECT_EQ(g_probe.tiff_dirs[0].width, 55);
      EXPECT_EQ(g_probe.tiff_dir_count, 2u);
    } else {
      EXPECT_STREQ(g_probe.camera_make, "");
      EXPECT_EQ(g_probe.tiff_dirs[0].width, 0);
      // The limit ends the chain: the next directory is not read either.
      EXPECT_EQ(g_probe.tiff_dir_count, 1u);
    }
  }
}

TEST(Limits, ADirectoryLoopEnds) {
  Tiff t;
  auto d0 = t.dir({t.long_(256, 10)});
  t.patch32(d0.next_field, static_cast<std::uint32_t>(d0.at));
  auto start = std::chrono::steady_clock::now();
  read_all(t);
  EXPECT_EQ(g_probe.tiff_dir_count, 10u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(Limits, HasselbladTagPointingAtItselfFinishesQuickly) {
  Tiff t;
  // IFD0 at 8 holds tag 50459 whose value (8 bytes, out of line) is a
  // little TIFF head whose offset points back at IFD0.
  // Eight such tags make the nesting branch eightfold at every level.
  std::vector<Entry> entries(8, t.raw(50459, 7, 8, Bytes(8, 0)));
  entries.push_back(t.ascii(271, "Hasselblad"));
  auto d0 = t.dir(entries);
  for (int i = 0; i < 8; ++i) {
    std::uint32_t q = static_cast<std::uint32_t>(t.bytes()[d0.value_field[i]] | t.bytes()[d0.value_field[i] + 1] << 8);
    t.patch16(q, 0x4949);
    t.patch16(q + 2, 42);
    t.patch32(q + 4, static_cast<std::uint32_t>(d0.at) - q);  // wraps below q
  }
  auto start = std::chrono::steady_clock::now();
  ScopedProbe probe(t.bytes());
  ASSERT_EQ(read_tiff_file(0), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(g_probe.tiff_dir_count, 1u);  // the tag restores the count
  EXPECT_EQ(g_probe.byte_order, 0x4949);
  EXPECT_STREQ(g_probe.camera_make, "Hasselblad");
}

TEST(Limits, HasselbladTagReadsItsDirectoryInItsOwnOrder) {
  Tiff t;
  auto d0 = t.dir({t.raw(50459, 7, 8, Bytes(8, 0))});
  std::uint32_t q = static_cast<std::uint32_t>(t.bytes()[d0.value_field[0]] | t.bytes()[d0.value_field[0] + 1] << 8);
  // A big-endian directory at q + 16, offsets relative to q.
  t.patch16(q, 0x4D4D);
  t.patch32(q + 4, 0x10000000);  // written little-endian: read big-endian as 16
  ByteWriter inner(false);
  inner.u16(2).u16(271).u16(2).u32(4).text("Hbd").u8(0).u16(256).u16(4).u32(1).u32(4000).u32(0);
  t.bytes().resize(q + 16, 0);
  t.bytes().insert(t.bytes().end(), inner.bytes().begin(), inner.bytes().end());
  read_all(t);
  EXPECT_STREQ(g_probe.camera_make, "Hbd");
  EXPECT_EQ(g_probe.tiff_dirs[1].width, 4000);  // summary written, count restored
  EXPECT_EQ(g_probe.tiff_dir_count, 1u);
  EXPECT_EQ(g_probe.byte_order, 0x4949);
}

}  // namespace

// The choice of raw and preview directories after a TIFF structure was
// read: raw size, orientation, processed files, compression support, the
// preview score and the writer the preview needs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "probe/probe_input.h"
#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/core_builders.h"

namespace {

using core_test::Bytes;
using core_test::JpegApp;
using core_test::make_jpeg;
using core_test::TempFile;
using core_test::Tiff;

// width, height, bits, compression, photometric, offset, orientation,
// samples, byte count
TiffDirInfo dir(std::int32_t w, std::int32_t h, std::int32_t bits, std::int32_t comp, std::int32_t samples,
                std::int32_t offset = 0, std::int32_t bytes = 0, std::int32_t orientation = 0) {
  return TiffDirInfo{w, h, bits, comp, 0, offset, orientation, samples, bytes, 0};
}

void install(const std::vector<TiffDirInfo>& dirs) {
  for (std::size_t i = 0; i < dirs.size(); ++i) g_probe.tiff_dirs[i] = dirs[i];
  g_probe.tiff_dir_count = static_cast<std::uint32_t>(dirs.size());
}

TEST(SelectRawAndPreview, Cr2LikeJpegFirstRawLast) {
  ScopedProbe probe(Bytes(64, 0));
  install({dir(1536, 1024, 8, 6, 3, 30000, 250000, 0), dir(160, 120, 8, 6, 3, 2000, 9000, 0),
           dir(3516, 2328, 12, 6, 1, 300000, 8000000, 0)});
  select_raw_and_preview();
  EXPECT_EQ(g_probe.sensor_width, 3516);
  EXPECT_EQ(g_probe.sensor_height, 2328);
  EXPECT_EQ(g_probe.raw_offset, 300000u);
  EXPECT_EQ(g_probe.raw_sample_bits, 12u);
  EXPECT_EQ(g_probe.raw_sample_count, 1u);
  EXPECT_EQ(g_probe.raw_compression, 6u);
  EXPECT_EQ(g_probe.preview_offset, 30000);
  EXPECT_EQ(g_probe.preview_length, 250000u);
  EXPECT_EQ(g_probe.preview_width, 1536);
  EXPECT_EQ(g_probe.preview_height, 1024);
  EXPECT_EQ(g_probe.preview_format_bits, 8u | 3u << 5);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
  EXPECT_EQ(g_probe.raw_supported, 1);
}

TEST(SelectRawAndPreview, LargerScoreWinsTiesKeepTheFirst) {
  struct Case {
    const char* name;
    TiffDirInfo a, b;
    std::int32_t chosen_offset;
  } cases[] = {
      {"larger area", dir(1000, 800, 8, 6, 3, 100, 10), dir(1200, 900, 8, 6, 3, 200, 20), 200},
      {"equal score", dir(900, 800, 8, 6, 3, 100, 10), dir(800, 900, 8, 6, 3, 200, 20), 100},
      {"depth counts", dir(1000, 1000, 8, 6, 3, 100, 10), dir(1400, 1400, 16, 6, 3, 200, 20), 100},
      {"depth squared", dir(100, 100, 8, 6, 3, 100, 10), dir(1000, 1000, 16, 6, 3, 200, 20), 200},
      // 900*900/81 = 10000 and 1700*1700/289 = 10000 in integer arithmetic.
      {"integer score tie", dir(900, 900, 8, 6, 3, 100, 10), dir(1700, 1700, 16, 6, 3, 200, 20), 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProbe probe(Bytes(64, 0));
    install({c.a, c.b});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.preview_offset, c.chosen_offset);
    EXPECT_EQ(g_probe.preview_length, c.chosen_offset == 100 ? 10u : 20u);
    EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
  }
}

TEST(SelectRawAndPreview, OnlyDirectoriesWithTheMostSamplesCompete) {
  ScopedProbe probe(Bytes(64, 0));
  // A large one-sample JPEG-like directory and a small three-sample JPEG:
  // the raw is the one-sample directory, the preview must have 3 samples.
  install({dir(2000, 1500, 8, 6, 1, 100, 10), dir(4000, 3000, 12, 7, 1, 200, 20), dir(320, 240, 8, 6, 3, 300, 30)});
  select_raw_and_preview();
  EXPECT_EQ(g_probe.raw_offset, 200u);
  EXPECT_EQ(g_probe.preview_offset, 300);
  EXPECT_EQ(g_probe.preview_width, 320);
}

TEST(SelectRawAndPreview, UncompressedRgbThumbnailIsAPpmPreview) {
  ScopedProbe probe(Bytes(64, 0));
  install({dir(160, 120, 8, 1, 3, 500, 57600), dir(3008, 2000, 12, 34713, 1, 90000, 5000000)});
  select_raw_and_preview();
  EXPECT_EQ(g_probe.raw_offset, 90000u);
  EXPECT_EQ(g_probe.preview_offset, 500);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::ppm_thumb);
  EXPECT_EQ(g_probe.raw_supported, 1);
}

TEST(SelectRawAndPreview, PreviewKindByCompression) {
  struct Case {
    std::int32_t compression, bits;
    PreviewKind kind;
  } cases[] = {
      {0, 8, PreviewKind::layer_thumb},  {1, 8, PreviewKind::ppm_thumb},   {1, 4, PreviewKind::ppm_thumb},
      {1, 16, PreviewKind::jpeg_thumb},  {65000, 8, PreviewKind::jpeg_thumb}, {6, 8, PreviewKind::jpeg_thumb},
      {7, 8, PreviewKind::jpeg_thumb},   {99, 8, PreviewKind::jpeg_thumb},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.compression << "/" << c.bits);
    ScopedProbe probe(Bytes(64, 0));
    install({dir(640, 480, c.bits, c.compression, 3, 100, 1000), dir(4000, 3000, 12, 7, 1, 200, 20)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.preview_offset, 100);
    EXPECT_EQ(g_probe.preview_kind, c.kind);
  }
}

TEST(SelectRawAndPreview, ProcessedFiles) {
  struct Case {
    const char* name;
    TiffDirInfo raw;
    const char* make;
    const char* detail;
    std::uint32_t dng;
    std::int32_t raw_supported;
  } cases[] = {
      {"RGB 8-bit with bytes", dir(3000, 2000, 8, 1, 3, 100, 18000000), "Canon", "", 0, 0},
      {"RGB 16-bit with bytes", dir(3000, 2000, 16, 1, 3, 100, 36000000), "NIKON", "", 0, 0},
      {"RGB 14-bit", dir(3000, 2000, 14, 1, 3, 100, 36000000), "NIKON", "", 0, 1},
      {"RGB no byte count", dir(3000, 2000, 16, 1, 3, 100, 0), "NIKON", "", 0, 1},
      {"RGB in a DNG", dir(3000, 2000, 16, 1, 3, 100, 36000000), "DNG", "", 0x01010000, 1},
      {"8-bit mono", dir(3000, 2000, 8, 1, 1, 100, 6000000), "Canon", "", 0, 0},
      {"8-bit KODAK", dir(3000, 2000, 8, 1, 1, 100, 6000000), "EASTMAN KODAK COMPANY", "", 0, 1},
      {"8-bit Kodak", dir(3000, 2000, 8, 1, 1, 100, 6000000), "Kodak", "", 0, 1},
      {"8-bit debug raw", dir(3000, 2000, 8, 1, 1, 100, 6000000), "Canon", "Build DEBUG RAW 2", 0, 1},
      {"8-bit in a DNG", dir(3000, 2000, 8, 1, 1, 100, 6000000), "DNG", "", 0x01000000, 1},
      {"12-bit mono", dir(3000, 2000, 12, 1, 1, 100, 9000000), "Canon", "", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProbe probe(Bytes(64, 0));
    set_text(g_probe.camera_make, c.make);
    set_text(g_probe.model_detail, c.detail);
    g_probe.dng_version = c.dng;
    install({c.raw});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.raw_offset, 100u);
    EXPECT_EQ(g_probe.raw_supported, c.raw_supported);
  }
}

TEST(SelectRawAndPreview, UnknownRawCompressionIsNotSupported) {
  const std::int32_t known[] = {0, 1, 6, 7, 99, 262, 32767, 32769, 32770, 32773, 32867, 34713, 65000, 65535};
  for (std::int32_t c : known) {
    SCOPED_TRACE(c);
    ScopedProbe probe(Bytes(64, 0));
    install({dir(3000, 2000, 12, c, 1, 100, 10)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.raw_compression, static_cast<std::uint32_t>(c));
    EXPECT_EQ(g_probe.raw_supported, 1);
  }
  for (std::int32_t c : {2, 5, 8, 9, 32768, 32771, 34892, 65001}) {
    SCOPED_TRACE(c);
    ScopedProbe probe(Bytes(64, 0));
    install({dir(3000, 2000, 12, c, 1, 100, 10)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.raw_supported, 0);
  }
}

TEST(SelectRawAndPreview, RawChoice) {
  {
    // Ties keep the earlier directory; wide values are no raw candidates.
    ScopedProbe probe(Bytes(64, 0));
    install({dir(70000, 10, 12, 7, 1, 50, 1), dir(2000, 1000, 12, 7, 1, 100, 1), dir(1000, 2000, 14, 7, 1, 200, 1)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.raw_offset, 100u);
    EXPECT_EQ(g_probe.raw_sample_bits, 12u);
  }
  {
    // A larger size found earlier by another reader is kept.
    ScopedProbe probe(Bytes(64, 0));
    g_probe.sensor_width = 5000;
    g_probe.sensor_height = 4000;
    g_probe.raw_offset = 4242;
    install({dir(3000, 2000, 12, 7, 1, 100, 1)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.raw_offset, 4242u);
    EXPECT_EQ(g_probe.sensor_width, 5000);
  }
}

TEST(SelectRawAndPreview, OrientationFromTheFirstDirectoryThatHasOne) {
  struct Case {
    const char* name;
    std::vector<TiffDirInfo> dirs;
    std::int32_t tiff_orientation;
  } cases[] = {
      {"first non-zero wins",
       {dir(160, 120, 8, 6, 3, 1, 1, 0), dir(640, 480, 8, 6, 3, 2, 1, 6), dir(3000, 2000, 12, 7, 1, 3, 1, 3)},
       6},
      {"raw directory's code without others",
       {dir(160, 120, 8, 6, 3, 1, 1, 0), dir(3000, 2000, 12, 7, 1, 3, 1, 0)},
       0},
      {"no raw directory", {dir(160, 120, 8, 6, 3, 1, 1, 0), dir(640, 480, 8, 6, 3, 2, 1, 0)}, -1},
      {"only the raw has one", {dir(160, 120, 8, 6, 3, 1, 1, 0), dir(3000, 2000, 12, 7, 1, 3, 1, 5)}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProbe probe(Bytes(64, 0));
    install(c.dirs);
    select_raw_and_preview();
    EXPECT_EQ(g_probe.tiff_orientation, c.tiff_orientation);
  }
}

TEST(SelectRawAndPreview, AnEarlierPreviewCompetesWithItsOwnScore) {
  Bytes bytes(16, 0);
  Bytes jpeg = make_jpeg(1536, 1024, 3);
  bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
  {
    ScopedProbe probe(bytes);
    g_probe.preview_offset = 16;
    g_probe.preview_length = static_cast<std::uint32_t>(jpeg.size());
    install({dir(640, 480, 8, 6, 3, 900, 90), dir(3000, 2000, 12, 7, 1, 3, 1)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.preview_offset, 16);
    EXPECT_EQ(g_probe.preview_length, jpeg.size());
    EXPECT_EQ(g_probe.preview_width, 1536);
    EXPECT_EQ(g_probe.preview_height, 1024);
    EXPECT_EQ(g_probe.preview_format_bits, 8u);
  }
  {
    // A directory that outscores it replaces it.
    ScopedProbe probe(bytes);
    g_probe.preview_offset = 16;
    g_probe.preview_length = static_cast<std::uint32_t>(jpeg.size());
    install({dir(3000, 2000, 8, 6, 3, 900, 90), dir(4000, 3000, 12, 7, 1, 3, 1)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.preview_offset, 900);
    EXPECT_EQ(g_probe.preview_length, 90u);
  }
  {
    // Not a JPEG where the earlier preview lies: it scores nothing.
    ScopedProbe probe(Bytes(200, 0x33));
    g_probe.preview_offset = 16;
    g_probe.preview_length = 50;
    install({dir(64, 48, 8, 6, 3, 120, 12), dir(3000, 2000, 12, 7, 1, 3, 1)});
    select_raw_and_preview();
    EXPECT_EQ(g_probe.preview_offset, 120);
  }
}

// ---------------------------------------------------------------------------
// The same choice on whole files

// A CR2-like file: IFD0 with the full-size JPEG as its strip, IFD1 with a
// small JPEG thumbnail, IFD2 with the one-sample raw data.
Bytes cr2_like(const Bytes& big, const Bytes& small) {
  Tiff t;
  auto d0 = t.dir({t.short_(259, 6), t.ascii(271, "Canon"), t.ascii(272, "Canon EOS Test Body"), t.long_(273, 0),
                   t.short_(274, 1), t.long_(279, static_cast<std::uint32_t>(big.size()))});
  t.patch32(d0.next_field, t.here());
  auto d1 = t.dir({t.long_(513, 0), t.long_(514, static_cast<std::uint32_t>(small.size()))});
  t.patch32(d1.next_field, t.here());
  auto d2 = t.dir({t.long_(256, 2000), t.long_(257, 1300), t.short_(258, 14), t.short_(259, 6), t.long_(273, 0),
                   t.short_(277, 1), t.long_(279, 4096)});
  t.patch32(d0.value_field[3], t.append(big));
  t.patch32(d1.value_field[0], t.append(small));
  t.patch32(d2.value_field[4], t.append(Bytes(4096, 0x40)));
  return t.bytes();
}

TEST(SelectRawAndPreview, Cr2LikeFileThroughTheWholeProbe) {
  Bytes big = make_jpeg(1200, 800, 3, JpegApp::kJfif, {}, 3000, 0x21);
  Bytes small = make_jpeg(160, 120, 3, JpegApp::kJfif, {}, 200, 0x42);
  Bytes file = cr2_like(big, small);
  ScopedProbe probe(file);
  run_probe();
  ASSERT_EQ(g_probe.tiff_dir_count, 3u);
  EXPECT_EQ(g_probe.preview_length, big.size());
  ASSERT_GT(g_probe.preview_offset, 0);
  EXPECT_EQ(Bytes(file.begin() + g_probe.preview_offset, file.begin() + g_probe.preview_offset + 12),
            Bytes(big.begin(), big.begin() + 12));
  EXPECT_EQ(g_probe.preview_width, 1200);
  EXPECT_EQ(g_probe.preview_height, 800);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
  EXPECT_EQ(g_probe.sensor_width, 2000);
  EXPECT_STREQ(g_probe.camera_model, "EOS Test Body");

  TempFile tmp("cr2_like.cr2", file);
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 1);
}

TEST(SelectRawAndPreview, PpmThumbnailFileHasNoJpegPreview) {
  Tiff t;
  auto d0 = t.dir({t.long_(256, 16), t.long_(257, 12), t.raw(258, 3, 3, {8, 0, 8, 0, 8, 0}), t.short_(259, 1),
                   t.ascii(271, "NIKON CORPORATION"), t.ascii(272, "NIKON D1X"), t.long_(273, 0),
                   t.short_(277, 3), t.long_(279, 576)});
  t.patch32(d0.next_field, t.here());
  auto d1 = t.dir({t.long_(256, 3008), t.long_(257, 2000), t.short_(258, 12), t.short_(259, 34713),
                   t.long_(273, 0), t.short_(277, 1), t.long_(279, 2048)});
  t.patch32(d0.value_field[6], t.append(Bytes(576, 0x80)));
  t.patch32(d1.value_field[4], t.append(Bytes(2048, 0x10)));
  ScopedProbe probe(t.bytes());
  run_probe();
  EXPECT_NE(g_probe.preview_offset, 0);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::ppm_thumb);
  TempFile tmp("ppm_thumb.nef", t.bytes());
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 0);
  core_test::Extracted r = core_test::extract(tmp.native());
  EXPECT_EQ(r.ok, 0);
  EXPECT_TRUE(r.buffer_null);
}

}  // namespace

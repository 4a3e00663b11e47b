// The top-level probe: the detection chain, the maker and model clean-up,
// the per-camera rules that touch names, previews or orientation, and the
// finishing steps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "probe/probe_input.h"
#include "probe/readers.h"
#include "support/byte_writer.h"
#include "support/probe_fixture.h"
#include "tests/probe/container_builders.h"
#include "tests/probe/core_builders.h"

namespace {

using core_test::Bytes;
using core_test::Entry;
using core_test::extract;
using core_test::Extracted;
using core_test::JpegApp;
using core_test::make_jpeg;
using core_test::TempFile;
using core_test::Tiff;

void use_utc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

// A TIFF with make and model, a small JPEG preview strip and a one-sample
// raw directory of the given size.
Bytes tiff_camera(const std::string& make, const std::string& model, std::uint32_t raw_w = 3000,
                  std::uint32_t raw_h = 2000, std::vector<Entry> extra = {}, bool raw_byte_count = true,
                  std::uint16_t raw_samples = 1) {
  Tiff t;
  std::vector<Entry> e0;
  if (!make.empty()) e0.push_back(t.ascii(271, make));
  if (!model.empty()) e0.push_back(t.ascii(272, model));
  for (Entry& x : extra) e0.push_back(x);
  auto d0 = t.dir(e0);
  t.patch32(d0.next_field, t.here());
  std::vector<Entry> e1 = {t.long_(256, raw_w), t.long_(257, raw_h), t.short_(258, 12), t.short_(259, 1),
                           t.long_(273, 0), t.short_(277, raw_samples)};
  if (raw_byte_count) e1.push_back(t.long_(279, 512));
  auto d1 = t.dir(e1);
  t.patch32(d1.value_field[4], t.append(Bytes(512, 0x20)));
  return t.bytes();
}

struct Names {
  std::string make, model;
};

Names probe_names(const Bytes& bytes) {
  ScopedProbe probe(bytes);
  run_probe();
  return {g_probe.camera_make, g_probe.camera_model};
}

// ---------------------------------------------------------------------------
// Detection chain

TEST(DetectionChain, IIIIFileIsReadAsPhaseOneOnly) {
  // The head is also a valid TIFF head ("II", then offset 8 at bytes 4-7
  // once "II" is skipped as the 42 word); it must not be read as TIFF.
  Tiff t(true, 8);
  t.dir({t.ascii(271, "Tiff Maker")});
  Bytes bytes = t.bytes();
  bytes[2] = 'I';
  bytes[3] = 'I';
  ScopedProbe probe(bytes);
  run_probe();
  EXPECT_EQ(g_probe.tiff_dir_count, 0u);
  EXPECT_STREQ(g_probe.camera_make, "");
}

TEST(DetectionChain, FourLettersAtOffsetTenTryPhaseOneThenTiff) {
  for (const char* letters : {"MMMM", "IIII"}) {
    SCOPED_TRACE(letters);
    Tiff t(true, 16);
    t.dir({t.ascii(271, "Tiff Maker"), t.ascii(272, "Body 1")});
    Bytes bytes = t.bytes();
    std::memcpy(bytes.data() + 10, letters, 4);
    ScopedProbe probe(bytes);
    run_probe();
    EXPECT_STREQ(g_probe.camera_make, "Tiff Maker");
    EXPECT_STREQ(g_probe.camera_model, "Body 1");
    EXPECT_EQ(g_probe.tiff_dir_count, 1u);
  }
}

TEST(DetectionChain, CiffHeapHeaderIsNotReadAsTiff) {
  ByteWriter w(true);
  w.text("II").u32(26).text("HEAPCCDR").u16(1).u16(2);
  w.pad_to(26);
  w.zeros(64);
  ScopedProbe probe(w.bytes());
  run_probe();
  EXPECT_EQ(g_probe.raw_offset, 26u);
  EXPECT_EQ(g_probe.tiff_dir_count, 0u);
}

// A camera JPEG with an Exif segment holding make, model and a thumbnail.
Bytes exif_jpeg(bool followed_by_ff) {
  Tiff t(true);
  auto d0 = t.dir({t.ascii(271, "Exif Maker"), t.ascii(272, "Pocket 9")});
  t.patch32(d0.next_field, t.here());
  Bytes thumb = make_jpeg(160, 120, 3, JpegApp::kJfif, {}, 300, 0x55);
  auto d1 = t.dir({t.short_(259, 6), t.long_(513, 0), t.long_(514, static_cast<std::uint32_t>(thumb.size()))});
  t.patch32(d1.value_field[1], t.append(thumb));
  Bytes jpeg = make_jpeg(640, 480, 3, JpegApp::kExif, t.bytes(), 2000, 0x66);
  if (!followed_by_ff) {
    std::size_t after_app1 = 4 + (std::size_t{jpeg[4]} << 8 | jpeg[5]);
    jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(after_app1), 0x00);
  }
  return jpeg;
}

TEST(DetectionChain, ExifJpegReadsItsExifWhenTheSegmentIsNotFollowedByFF) {
  Bytes jpeg = exif_jpeg(false);
  ScopedProbe probe(jpeg);
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "Exif Maker");
  EXPECT_STREQ(g_probe.camera_model, "Pocket 9");
  EXPECT_EQ(g_probe.preview_offset, 0);
  TempFile tmp("exif_not_ff.jpg", jpeg);
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 0);
}

TEST(DetectionChain, ExifJpegNeverYieldsItsThumbnail) {
  Bytes jpeg = exif_jpeg(true);
  {
    // The walk over the JPEG's segments alone would pick the thumbnail.
    ScopedProbe probe(jpeg);
    ASSERT_EQ(read_jpeg_segments(0), 1);
    ASSERT_NE(g_probe.preview_offset, 0);
  }
  {
    ScopedProbe probe(jpeg);
    run_probe();
    EXPECT_EQ(g_probe.preview_offset, 0);
  }
  TempFile tmp("exif_ff.jpg", jpeg);
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 0);
  Extracted r = extract(tmp.native());
  EXPECT_EQ(r.ok, 0);
  EXPECT_TRUE(r.buffer_null);
}

// A CIFF heap inside a JPEG can fill the whole make field with no NUL. The
// maker note's ISO entry counts for NIKON makes only, and that test once
// searched on past the make into the model field, here "NIKON D70".
TEST(DetectionChain, MakeFillingItsFieldIsNotSearchedIntoTheModel) {
  std::string names = std::string(64, 'X') + std::string(1, '\0') + "NIKON D70";
  names.resize(140, '\0');
  Bytes crw = build_crw(build_ciff_heap({{0x080A, Bytes(names.begin(), names.end())}}, false), false);

  // IFD0 -> Exif IFD -> a maker note holding only the ISO entry (tag 2).
  ByteWriter note(true);
  write_dir(note, {{2, 3, 2, 400u << 16}});
  Tiff t;
  auto ifd0 = t.dir({t.long_(34665, 0)});
  t.patch32(ifd0.value_field[0], t.here());
  t.dir({t.raw(37500, 7, static_cast<std::uint32_t>(note.size()), note.bytes())});

  ByteWriter jpeg(false);
  jpeg.u8(0xFF).u8(0xD8);
  jpeg.u8(0xFF).u8(0xE0).u16(static_cast<std::uint16_t>(2 + crw.size())).raw(crw);
  jpeg.u8(0xFF).u8(0xE1).u16(static_cast<std::uint16_t>(2 + 6 + t.size())).text("Exif").u8(0).u8(0).raw(t.bytes());
  jpeg.u8(0xFF).u8(0xDA).u16(8).zeros(6);
  ScopedProbe probe(jpeg.bytes());
  run_probe();
  EXPECT_EQ(std::string(g_probe.camera_make), std::string(63, 'X'));  // the heap's make was read
  EXPECT_EQ(g_probe.iso_rating, 0.0f);
}

TEST(DetectionChain, PlainJpegWalkFindsSizesButNoMake) {
  Bytes jpeg = make_jpeg(800, 600, 3, JpegApp::kJfif);
  ScopedProbe probe(jpeg);
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "");
  EXPECT_EQ(g_probe.raw_supported, 0);
  EXPECT_EQ(g_probe.sensor_width, 800);
  EXPECT_EQ(g_probe.sensor_height, 600);
  EXPECT_EQ(g_probe.orientation_code, 0);
}

TEST(DetectionChain, LogitechNeedsANulAfterPXN) {
  Bytes with_nul(2048, 0);
  std::memcpy(with_nul.data(), "PXN", 3);
  EXPECT_EQ(probe_names(with_nul).make, "Logitech");
  EXPECT_EQ(probe_names(with_nul).model, "Fotoman Pixtura");
  Bytes without = with_nul;
  without[3] = 'A';
  EXPECT_EQ(probe_names(without).make, "");
}

TEST(DetectionChain, QuickTake) {
  {
    ByteWriter w(false);
    w.text("qktk").pad_to(544).u16(480).u16(640).u32(0).u16(30).pad_to(2048);
    ScopedProbe probe(w.bytes());
    run_probe();
    EXPECT_STREQ(g_probe.camera_make, "Apple");
    EXPECT_STREQ(g_probe.camera_model, "QuickTake 100");
    EXPECT_EQ(g_probe.raw_offset, 738u);
    EXPECT_EQ(g_probe.orientation_code, 0);
  }
  for (std::uint16_t w3 : {std::uint16_t{3}, std::uint16_t{1}}) {
    SCOPED_TRACE(w3);
    // Taller than wide: swapped, orientation from the word before the data.
    ByteWriter w(false);
    w.text("qktk").pad_to(544).u16(640).u16(480).u32(0).u16(7).pad_to(730).u16(w3).pad_to(2048);
    ScopedProbe probe(w.bytes());
    run_probe();
    EXPECT_EQ(g_probe.raw_offset, 736u);
    EXPECT_EQ(g_probe.image_width, 640);
    EXPECT_EQ(g_probe.image_height, 480);
    EXPECT_EQ(g_probe.orientation_code, w3 == 3 ? 6 : 5);
  }
  {
    Bytes b(2048, 0);
    std::memcpy(b.data(), "qktn", 4);
    EXPECT_EQ(probe_names(b).model, "QuickTake 150");
    b[5] = 1;
    EXPECT_EQ(probe_names(b).model, "QuickTake 200");
  }
}

// A RAF-like file: the header's preview JPEG carries its own Exif with
// make and model.
Bytes raf_like(const std::string& model, std::uint32_t word120 = 0) {
  Tiff exif(false);
  exif.dir({exif.ascii(271, "FUJIFILM"), exif.ascii(272, model)});
  Bytes jpeg = make_jpeg(640, 480, 3, JpegApp::kExif, exif.bytes(), 1500, 0x77);
  ByteWriter w(false);
  w.text("FUJIFILMCCD-RAW 0201FF383501");
  w.pad_to(84).u32(256).u32(static_cast<std::uint32_t>(jpeg.size())).u32(200).pad_to(100).u32(0);
  w.pad_to(120).u32(word120);
  w.pad_to(200).u32(0);  // empty record directory
  w.pad_to(256).raw(jpeg).zeros(64);
  return w.bytes();
}

TEST(DetectionChain, RafHeaderGivesThePreview) {
  Bytes raf = raf_like("FinePix S5Pro");
  ScopedProbe probe(raf);
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "FUJIFILM");
  EXPECT_STREQ(g_probe.camera_model, "FinePix S5Pro");
  EXPECT_EQ(g_probe.preview_offset, 256);
  EXPECT_EQ(g_probe.preview_length, raf.size() - 256 - 64);
  EXPECT_EQ(g_probe.preview_width, 640);
  EXPECT_EQ(g_probe.preview_height, 480);
  EXPECT_EQ(g_probe.raw_supported, 1);
}

TEST(DetectionChain, RafSecondRawImageWord) {
  ScopedProbe probe(raf_like("FinePix S5Pro", 0x01000000));
  run_probe();
  EXPECT_EQ(g_probe.raw_supported, 2);
}

TEST(CameraRules, FinePixS2ProGetsASpaceAndTurns) {
  Bytes raf = raf_like("FinePixS2Pro");
  {
    ScopedProbe probe(raf);
    run_probe();
    EXPECT_STREQ(g_probe.camera_model, "FinePix S2Pro");
    EXPECT_EQ(g_probe.orientation_code, 6);
  }
  TempFile tmp("s2pro.raf", raf);
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.rotated, 1u);
  // The preview carries Exif: it comes back as stored.
  Bytes stored(raf.begin() + 256, raf.end() - 64);
  EXPECT_EQ(r.data, stored);
}

TEST(DetectionChain, NokiaRaw) {
  ByteWriter w(true);
  w.text("NOKIARAW").pad_to(300).u32(1024).u32(5000).u16(1000).u16(700).pad_to(2048);
  ScopedProbe probe(w.bytes());
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "NOKIA");
  EXPECT_STREQ(g_probe.camera_model, "X2");
  EXPECT_EQ(g_probe.raw_offset, 1024u);
  EXPECT_EQ(g_probe.image_width, 1000);
  EXPECT_EQ(g_probe.image_height, 700);
}

TEST(DetectionChain, SixByteHeaderWithFixedNameFields) {
  ByteWriter w(false);
  w.u8(0).u8(1).u8(0).u8(1).u8(0).u8(0x40);
  w.text("ACME CAMModelX12").text_fixed("Detail sixteen b", 16);
  w.u16(0x0800).u16(0).u16(1600).u16(1200).pad_to(4096);
  ScopedProbe probe(w.bytes());
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "ACME CAM");
  EXPECT_STREQ(g_probe.camera_model, "ModelX12");
  EXPECT_STREQ(g_probe.model_detail, "Detail sixteen b");
  EXPECT_EQ(g_probe.raw_offset, 0x0800u);
  EXPECT_EQ(g_probe.sensor_width, 1600);
  EXPECT_EQ(g_probe.sensor_height, 1200);
}

TEST(DetectionChain, HeaderlessSizeKodakDc20HasNoPreview) {
  Bytes bytes(62464, 0);
  // Even a JPEG at the start of such a file is not a preview.
  Bytes jpeg = make_jpeg(320, 240, 3);
  std::memcpy(bytes.data(), jpeg.data(), jpeg.size());
  {
    ScopedProbe probe(bytes);
    run_probe();
    EXPECT_STREQ(g_probe.camera_make, "Kodak");
    EXPECT_STREQ(g_probe.camera_model, "DC20");
    EXPECT_EQ(g_probe.preview_offset, 0);
  }
  TempFile tmp("dc20.raw", bytes);
  EXPECT_EQ(probe_has_jpeg_preview(tmp.native()), 0);
  Extracted r = extract(tmp.native());
  EXPECT_EQ(r.ok, 0);
  EXPECT_TRUE(r.buffer_null);
  // One byte more matches no row.
  bytes.push_back(0);
  EXPECT_EQ(probe_names(bytes).make, "");
}

TEST(DetectionChain, CompanionJpegRowsNeverYieldAPreview) {
  use_utc();
  auto dir = std::filesystem::path(testing::TempDir()) / ("veltrano_core_companion_" + std::to_string(VLTR_TEST_PID));
  std::filesystem::create_directories(dir);
  // NIKON E900 by its size; the metadata lives in the JPEG beside it.
  auto raw = dir / "DSCN0001.NEF";
  auto companion = dir / "DSCN0001.JPG";
  {
    std::ofstream out(raw, std::ios::binary | std::ios::trunc);
    Bytes zeros(1581060, 0);
    out.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(zeros.size()));
  }
  {
    Tiff t(true);
    auto d0 = t.dir({t.ascii(271, "NIKON"), t.ascii(272, "E900"), t.ascii(306, "2001:02:03 04:05:06")});
    t.patch32(d0.next_field, t.here());
    Bytes thumb = make_jpeg(160, 120, 3, JpegApp::kJfif);
    auto d1 = t.dir({t.short_(259, 6), t.long_(513, 0), t.long_(514, static_cast<std::uint32_t>(thumb.size()))});
    t.patch32(d1.value_field[1], t.append(thumb));
    Bytes jpeg = make_jpeg(640, 480, 3, JpegApp::kExif, t.bytes());
    std::ofstream out(companion, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  }
  ProbeReport report;
  ASSERT_TRUE(probe_report(raw.native(), report));
  EXPECT_EQ(report.make, "NIKON");
  EXPECT_EQ(report.model, "E900");
  EXPECT_EQ(report.capture_time, 981173106);  // 2001-02-03 04:05:06
  EXPECT_EQ(report.preview_offset, 0);
  EXPECT_FALSE(report.has_jpeg_preview);
  // The companion's thumbnail lies in the companion: it is not listed as an
  // image of the RAW file (whose bytes at that offset are something else).
  EXPECT_TRUE(report.images.empty());
  EXPECT_EQ(probe_has_jpeg_preview(raw.native()), 0);
  std::filesystem::remove_all(dir);
}

// Companion names: a digit-first base name swaps its halves; a raw file
// that is itself named .jpg takes the next number.
TEST(DetectionChain, CompanionJpegNames) {
  use_utc();
  struct Case {
    const char* raw;
    const char* companion;
  } cases[] = {{"12345678.raw", "56781234.jpg"}, {"CIMG0099.jpg", "CIMG0100.jpg"}, {"ABCD1234.Bay", "ABCD1234.JPG"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    auto dir = std::filesystem::path(testing::TempDir()) / ("veltrano_core_companion_names_" + std::to_string(VLTR_TEST_PID));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    {
      std::ofstream out(dir / c.raw, std::ios::binary | std::ios::trunc);
      Bytes zeros(1976352, 0);  // CASIO QV-2000UX by its size
      out.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(zeros.size()));
    }
    {
      Tiff t(true);
      t.dir({t.ascii(271, "CASIO"), t.ascii(272, "QV-2000UX"), t.ascii(306, "2001:02:03 04:05:06")});
      Bytes jpeg = make_jpeg(640, 480, 3, JpegApp::kExif, t.bytes());
      std::ofstream out(dir / c.companion, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
    }
    ProbeReport report;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(probe_report((dir / c.raw).native(), report));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(report.capture_time, 981173106);
    EXPECT_EQ(report.preview_offset, 0);
    // Without the companion the time stays unknown and the name is told.
    std::filesystem::remove(dir / c.companion);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(probe_report((dir / c.raw).native(), report));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to read metadata from " + (dir / c.companion).string() + "\n");
    EXPECT_EQ(report.capture_time, 0);
    std::filesystem::remove_all(dir);
  }
}

TEST(DetectionChain, HeaderlessStv680IsMirroredTopBottom) {
  ScopedProbe probe(Bytes(311696, 0));
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "ST Micro");
  EXPECT_STREQ(g_probe.camera_model, "STV680 VGA");
  EXPECT_EQ(g_probe.orientation_code, 2);
}

TEST(DetectionChain, ShortFilesAreStillProbed) {
  for (std::size_t n : {0u, 1u, 2u, 5u, 31u}) {
    SCOPED_TRACE(n);
    ScopedProbe probe(Bytes(n, 0x49));
    run_probe();
    EXPECT_EQ(g_probe.orientation_code, 0);
    EXPECT_EQ(g_probe.preview_offset, 0);
  }
}

// ---------------------------------------------------------------------------
// Maker and model clean-up

TEST(NameCleanUp, MakerWordsPrefixesAndSpaces) {
  struct Case {
    const char* make;
    const char* model;
    const char* clean_make;
    const char* clean_model;
  } cases[] = {
      {"NIKON CORPORATION", "NIKON D70", "NIKON", "D70"},
      {"EASTMAN KODAK COMPANY", "KODAK DCS Pro 14N DIGITAL CAMERA", "KODAK", "DCS Pro 14N"},
      {"KODAK", "KODAK EasyShare Z1 Digital Camera", "KODAK", "EasyShare Z1"},
      {"KODAK", "DCS420 FILE VERSION 3", "KODAK", "DCS420"},
      {"Eastman Kodak Company", "Z1 Digital Camera", "Kodak", "Z1 Digital Camera"},
      {"KONICA MINOLTA", "DiMAGE A2", "MINOLTA", "DiMAGE A2"},
      {"Konica Minolta Camera, Inc.", "DiMAGE A200", "Minolta", "DiMAGE A200"},
      {"Canon", "canon EOS 5D", "Canon", "EOS 5D"},
      {"Canon", "Canon", "Canon", "Canon"},
      {"Canon", "CanonEOS", "Canon", "CanonEOS"},
      {"Foo Cam", "Digital Camera X1", "Foo Cam", "X1"},
      {"PENTAX Corporation  ", "PENTAX *ist D   ", "PENTAX", "*ist D"},
      {"OLYMPUS IMAGING CORP.", "E-3", "OLYMPUS", "E-3"},
      {"SAMSUNG TECHWIN", "Pro 815", "SAMSUNG", "Pro 815"},
      {"Mamiya-OP Co.,Ltd.", "ZD", "Mamiya", "ZD"},
      {"CASIO COMPUTER CO.,LTD.", "EX-F1", "CASIO", "EX-F1"},
      {"SEIKO EPSON CORP.", "R-D1", "EPSON", "R-D1"},
      {"Leica Camera AG", "LEICA M8", "Leica Camera AG", "LEICA M8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.make << " / " << c.model);
    Names n = probe_names(tiff_camera(c.make, c.model));
    EXPECT_EQ(n.make, c.clean_make);
    EXPECT_EQ(n.model, c.clean_model);
  }
}

// ---------------------------------------------------------------------------
// Per-camera rules and finishing

TEST(CameraRules, FinePixS2ProInATiff) {
  ScopedProbe probe(tiff_camera("FUJIFILM", "FinePixS2Pro"));
  run_probe();
  EXPECT_STREQ(g_probe.camera_model, "FinePix S2Pro");
  EXPECT_EQ(g_probe.orientation_code, 6);
}

TEST(CameraRules, EmptyModelIsNamedByImageSize) {
  Names n = probe_names(tiff_camera("Foo Cam", "", 1234, 567));
  EXPECT_EQ(n.model, "1234x567");
}

TEST(CameraRules, DngKeepsAnEmptyModel) {
  Tiff t;
  ScopedProbe probe(tiff_camera("", "", 1234, 567, {t.raw(50706, 1, 4, {1, 1, 0, 0})}));
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "DNG");
  EXPECT_STREQ(g_probe.camera_model, "");
  EXPECT_EQ(g_probe.dng_version, 0x01010000u);
}

TEST(CameraRules, LeafModelsByImageSize) {
  Tiff t;
  struct Case {
    const char* name;
    std::uint32_t w, h;
    std::uint16_t samples;
    const char* model;
    const char* expected;
  } cases[] = {
      {"CatchLight", 2048, 2048, 1, "", "CatchLight"},
      {"DCB2", 2048, 2048, 3, "", "DCB2"},
      {"Cantare", 3072, 2132, 1, "", "Cantare"},
      {"Cantare only without a model", 3072, 2132, 1, "Aptus 22", "Aptus 22"},
      {"Valeo 6 by width 2116", 2116, 1500, 1, "Something", "Valeo 6"},
      {"Valeo 6 by width 3171", 3171, 2000, 1, "", "Valeo 6"},
      {"other size", 4000, 3000, 1, "Aptus 75", "Aptus 75"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Three-sample raws carry no byte count, so they are not taken for
    // processed files.
    ScopedProbe probe(tiff_camera("", c.model, c.w, c.h, {t.long_(34303, 1)}, c.samples == 1, c.samples));
    run_probe();
    EXPECT_STREQ(g_probe.camera_make, "Leaf");
    EXPECT_STREQ(g_probe.camera_model, c.expected);
  }
}

Bytes sp550uz(std::size_t total, std::vector<std::uint8_t>* jpeg_out = nullptr) {
  Bytes bytes = tiff_camera("OLYMPUS IMAGING CORP.", "SP550UZ");
  Bytes jpeg = make_jpeg(640, 480, 3, JpegApp::kJfif, {}, 5000, 0x31);
  if (total > 10721280) {
    bytes.resize(10721280, 0);
    bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
  }
  bytes.resize(total, 0);
  if (jpeg_out) *jpeg_out = jpeg;
  return bytes;
}

TEST(CameraRules, OlympusSp550uzFixedPreview) {
  Bytes jpeg;
  Bytes bytes = sp550uz(10721280 + 5100, &jpeg);
  {
    ScopedProbe probe(bytes);
    run_probe();
    EXPECT_STREQ(g_probe.camera_make, "OLYMPUS");
    EXPECT_EQ(g_probe.preview_offset, 10721280);
    EXPECT_EQ(g_probe.preview_length, 5100u);
    EXPECT_EQ(g_probe.preview_width, 640);
    EXPECT_EQ(g_probe.preview_height, 480);
    EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
  }
  TempFile tmp("sp550uz.orf", bytes);
  Extracted r = extract(tmp.native());
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.length, 5100u + 1386);
  EXPECT_EQ(Bytes(r.data.begin() + 1388, r.data.begin() + 1388 + jpeg.size() - 2), Bytes(jpeg.begin() + 2, jpeg.end()));
}

TEST(CameraRules, ShortSp550uzFileWrapsAndYieldsNoBuffer) {
  Bytes bytes = sp550uz(8192);
  {
    ScopedProbe probe(bytes);
    run_probe();
    EXPECT_EQ(g_probe.preview_offset, 10721280);
    EXPECT_EQ(g_probe.preview_length, static_cast<std::uint32_t>(8192u - 10721280u));
  }
  TempFile tmp("sp550uz_short.orf", bytes);
  Extracted r = extract(tmp.native());
  EXPECT_EQ(r.ok, 0);
  EXPECT_TRUE(r.buffer_null);
}

TEST(CameraRules, ExS20TurnsHalfway) {
  ScopedProbe probe(tiff_camera("CASIO COMPUTER CO.,LTD.", "EX-S20"));
  run_probe();
  EXPECT_EQ(g_probe.orientation_code, 3);
}

TEST(CameraRules, KodakModelNames) {
  struct Case {
    const char* model;
    const char* expected;
  } cases[] = {{"DCS460 D", "DCS460"}, {"Camera DC25 x", "DC25"}, {"40", "DC40"}, {"DC50 Zoom", "DC50"},
               {"DC120 ZOOM", "DC120"}, {"DC210", "DC210"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    EXPECT_EQ(probe_names(tiff_camera("Kodak", c.model)).model, c.expected);
  }
}

TEST(CameraRules, E3700VariantsByTwoBytes) {
  struct Case {
    std::uint8_t b8, b20;
    const char* make;
    const char* model;
    std::int32_t orientation;
  } cases[] = {{0x00, 0x00, "PENTAX", "Optio 33WR", 1},
               {0x00, 0x03, "NIKON", "E3200", 0},
               {0x03, 0x02, "NIKON", "E3700", 0},
               {0xFF, 0x07, "OLYMPUS", "C740UZ", 0},
               {0x01, 0x01, "NIKON", "E3700", 0}};  // no row: the size row's names stay
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Bytes bytes(4775936, 0);
    bytes[3072 + 8] = c.b8;
    bytes[3072 + 20] = c.b20;
    ScopedProbe probe(std::move(bytes));
    run_probe();
    EXPECT_STREQ(g_probe.camera_make, c.make);
    EXPECT_STREQ(g_probe.camera_model, c.model);
    EXPECT_EQ(g_probe.orientation_code, c.orientation);
  }
}

TEST(CameraRules, E2100OrE2500ByTheRowPattern) {
  {
    ScopedProbe probe(Bytes(2940928, 0xFF));
    run_probe();
    EXPECT_STREQ(g_probe.camera_model, "E2100");
  }
  {
    Bytes bytes(2940928, 0xFF);
    bytes[12 * 700 + 6] = 0xFE;  // one group breaks the pattern
    ScopedProbe probe(std::move(bytes));
    run_probe();
    EXPECT_STREQ(g_probe.camera_model, "E2500");
  }
}

TEST(CameraRules, E995ByTheTailHistogram) {
  {
    Bytes bytes(4771840, 0);
    std::uint8_t values[4] = {0x00, 0x55, 0xAA, 0xFF};
    for (std::size_t i = 0; i < 2000; ++i) bytes[bytes.size() - 2000 + i] = values[i % 4];
    ScopedProbe probe(std::move(bytes));
    run_probe();
    EXPECT_STREQ(g_probe.camera_model, "E995");
  }
  {
    Bytes bytes(4771840, 0);
    std::uint8_t values[4] = {0x00, 0x55, 0xAA, 0xFF};
    for (std::size_t i = 0; i < 2000; ++i) bytes[bytes.size() - 2000 + i] = i < 1250 ? 0x55 : values[i % 4];
    ScopedProbe probe(std::move(bytes));  // 0xAA and 0xFF below 200 each
    run_probe();
    EXPECT_STREQ(g_probe.camera_model, "E990");
  }
}

TEST(CameraRules, DimageZ2ByANonZeroTail) {
  for (int nonzero : {20, 21}) {
    SCOPED_TRACE(nonzero);
    Bytes bytes(5869568, 0);
    for (int i = 0; i < nonzero; ++i) bytes[bytes.size() - 424 + 10 * i] = 1;
    ScopedProbe probe(std::move(bytes));
    run_probe();
    EXPECT_STREQ(g_probe.camera_make, nonzero > 20 ? "Minolta" : "NIKON");
    EXPECT_STREQ(g_probe.camera_model, nonzero > 20 ? "DiMAGE Z2" : "E4300");
  }
}

TEST(CameraRules, PowerShotA610OrS2IsByStrideBytes) {
  {
    ScopedProbe probe(Bytes(6573120, 0x0F));
    run_probe();
    EXPECT_STREQ(g_probe.camera_model, "PowerShot A610");
  }
  {
    Bytes bytes(6573120, 0x0F);
    bytes[3284 + 3340 * 42] = 0x10;
    ScopedProbe probe(std::move(bytes));
    run_probe();
    EXPECT_STREQ(g_probe.camera_model, "PowerShot S2 IS");
  }
}

TEST(CameraRules, RoverShotBigEndianDataIsNamedBySize) {
  for (bool big : {true, false}) {
    SCOPED_TRACE(big);
    Bytes bytes(6291456, 0);
    // A smooth ramp of 16-bit samples at 3 MiB, in one byte order.
    for (std::size_t i = 0; i < 65536; ++i) {
      std::size_t at = 0x300000 + 2 * i;
      std::uint16_t v = static_cast<std::uint16_t>(i);
      bytes[at] = static_cast<std::uint8_t>(big ? v >> 8 : v);
      bytes[at + 1] = static_cast<std::uint8_t>(big ? v : v >> 8);
    }
    ScopedProbe probe(std::move(bytes));
    run_probe();
    if (big) {
      EXPECT_STREQ(g_probe.camera_make, "ISG");
      EXPECT_STREQ(g_probe.camera_model, "2020x1520");
    } else {
      EXPECT_STREQ(g_probe.camera_make, "RoverShot");
      EXPECT_STREQ(g_probe.camera_model, "3320AF");
    }
  }
}

TEST(CameraRules, HasselbladV96CBySensorWidth) {
  EXPECT_EQ(probe_names(tiff_camera("Hasselblad", "H3D", 4090, 3000)).model, "V96C");
  EXPECT_EQ(probe_names(tiff_camera("Hasselblad", "H3D", 4080, 3000)).model, "H3D");
}

TEST(DetectionChain, ContaxTimeIsStoredBackToFront) {
  use_utc();
  std::string t = "2004:05:06 07:08:09";
  Bytes bytes(256, 0);
  std::memcpy(bytes.data() + 25, "ARECOYK", 7);
  for (std::size_t i = 0; i < 19; ++i) bytes[33 + i] = static_cast<std::uint8_t>(t[18 - i]);
  ScopedProbe probe(bytes);
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "Contax");
  EXPECT_STREQ(g_probe.camera_model, "N Digital");
  EXPECT_EQ(g_probe.capture_time, 1083827289);
}

TEST(DetectionChain, MinoltaBlocks) {
  Tiff t(false);
  t.dir({t.ascii(271, "KONICA MINOLTA"), t.ascii(272, "DiMAGE A2")});
  const Bytes& tiff = t.bytes();
  ByteWriter w(false);
  const std::uint32_t blocks = 8 + 24 + 8 + static_cast<std::uint32_t>(tiff.size());
  w.u8(0).text("MRM").u32(blocks);
  w.u8(0).text("PRD").u32(24).zeros(8).u16(2448).u16(3272).zeros(12);
  w.u8(0).text("TTW").u32(static_cast<std::uint32_t>(tiff.size())).raw(tiff);
  w.zeros(512);
  ScopedProbe probe(w.bytes());
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "MINOLTA");
  EXPECT_STREQ(g_probe.camera_model, "DiMAGE A2");
  EXPECT_EQ(g_probe.raw_offset, blocks + 8);
  EXPECT_EQ(g_probe.sensor_height, 2448);
  EXPECT_EQ(g_probe.sensor_width, 3272);
}

TEST(CameraRules, OrientationFromTheTiffWhenNoRuleSetsOne) {
  Tiff t;
  ScopedProbe probe(tiff_camera("Foo Cam", "Bar", 3000, 2000, {t.short_(274, 8)}));
  run_probe();
  EXPECT_EQ(g_probe.orientation_code, 5);
}

}  // namespace

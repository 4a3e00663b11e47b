// Phase One, Sinar IA, Rollei, RIFF, SMaL, Cine and RAF headers. The tests
// count wall-clock times as UTC seconds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/container_builders.h"

namespace {

constexpr std::int64_t kMar15_2010_102030 = 1268648430;  // 2010-03-15 10:20:30 UTC

// ---------------------------------------------------------------------------
// Phase One

struct PhaseOneTag {
  std::uint32_t tag;
  std::uint32_t data;
};

// Header at b, directory at b + 64, texts at b + 32.
std::vector<std::uint8_t> phase_one(std::size_t b, bool little, const std::vector<PhaseOneTag>& tags,
                                    const std::string& model_text = "") {
  ByteWriter w(little);
  w.pad_to(b).text(little ? "IIII" : "MMMM");
  w.u32(0x52617743).u32(64);  // "Raw" word (+ any low byte), directory offset
  w.pad_to(b + 32).text(model_text).pad_to(b + 64);
  w.u32(static_cast<std::uint32_t>(tags.size())).u32(0);
  for (const PhaseOneTag& t : tags) w.u32(t.tag).u32(4).u32(4).u32(t.data);
  w.zeros(64);
  return w.bytes();
}

TEST(PhaseOneHeader, OrientationFromTheLowTwoBits) {
  struct Case {
    std::uint32_t data;
    std::int32_t code;
  } cases[] = {{0, 0}, {1, 6}, {2, 5}, {3, 3}, {7, 3}, {5, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    ScopedProbe probe(phase_one(8, true, {{0x0100, c.data}}));
    read_phase_one_header(8);
    EXPECT_EQ(g_probe.orientation_code, c.code);
    EXPECT_STREQ(g_probe.camera_make, "Phase One");
    EXPECT_EQ(g_probe.byte_order, 0x4949);
  }
}

TEST(PhaseOneHeader, ModelTextIsCutAtCamera) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    ScopedProbe probe(phase_one(0, little, {{0x0301, 32}, {0x0109, 4128}}, "P 45+ camera back"));
    read_phase_one_header(0);
    EXPECT_STREQ(g_probe.camera_model, "P 45+");
    EXPECT_EQ(g_probe.sensor_height, 4128);
    EXPECT_EQ(g_probe.byte_order, little ? 0x4949 : 0x4D4D);
  }
}

// Found by fuzzing: a count of four billion entries in a file of a few
// hundred bytes walked the whole work budget, reading past the end.
TEST(PhaseOneHeader, EntryCountPastTheEndOfTheFileStopsThere) {
  std::vector<std::uint8_t> bytes = phase_one(0, true, {{0x0109, 4128}});
  for (int i = 0; i < 4; ++i) bytes[64 + i] = 0xFF;
  ScopedProbe probe(bytes);
  const std::uint32_t budget = g_probe.work_left;
  read_phase_one_header(0);
  EXPECT_EQ(g_probe.sensor_height, 4128);
  EXPECT_LE(budget - g_probe.work_left, bytes.size() / 16);
}

TEST(PhaseOneHeader, EmptyModelIsNamedBySensorHeight) {
  struct Case {
    std::uint32_t height;
    const char* model;
  } cases[] = {{2060, "LightPhase"}, {2682, "H 10"}, {4128, "H 20"}, {5488, "H 25"}, {4000, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    ScopedProbe probe(phase_one(4, true, {{0x0108, 5000}, {0x0109, c.height}, {0x010F, 0x100}}));
    read_phase_one_header(4);
    EXPECT_STREQ(g_probe.camera_model, c.model);
    EXPECT_EQ(g_probe.raw_offset, 4u + 0x100);
  }
}

TEST(PhaseOneHeader, WrongRawWordStopsBeforeTheMake) {
  std::vector<std::uint8_t> bytes = phase_one(0, true, {{0x0100, 1}});
  bytes[7] = 'X';  // "CwaX": the top three bytes no longer spell "Raw"
  ScopedProbe probe(bytes);
  read_phase_one_header(0);
  EXPECT_STREQ(g_probe.camera_make, "");
  EXPECT_EQ(g_probe.orientation_code, -1);
}

// ---------------------------------------------------------------------------
// Sinar IA

std::vector<std::uint8_t> sinar(bool with_meta, const std::string& text) {
  ByteWriter w(true);
  w.text("PWAD").u32(with_meta ? 3 : 2).u32(16).zeros(4);
  if (with_meta) w.u32(100).u32(0).text_fixed("META", 8);
  w.u32(300).u32(0).text_fixed("THUMB", 8);
  w.u32(400).u32(0).text_fixed("RAW0", 8);
  w.pad_to(120).text_fixed(text, 64).u16(4080).u16(5440).u32(0).u16(160).u16(120);
  w.pad_to(500);
  return w.bytes();
}

TEST(SinarIaHeader, MetadataNamesMakeAndModel) {
  ScopedProbe probe(sinar(true, "Sinar eMotion 22"), 0x4D4D);
  read_sinar_ia_header();
  EXPECT_STREQ(g_probe.camera_make, "Sinar");
  EXPECT_STREQ(g_probe.camera_model, "eMotion 22");
  EXPECT_EQ(g_probe.sensor_width, 4080);
  EXPECT_EQ(g_probe.sensor_height, 5440);
  EXPECT_EQ(g_probe.preview_width, 160);
  EXPECT_EQ(g_probe.preview_height, 120);
  EXPECT_EQ(g_probe.preview_offset, 300);
  EXPECT_EQ(g_probe.preview_length, 0u);
  EXPECT_EQ(g_probe.raw_offset, 400u);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::ppm_thumb);
  EXPECT_EQ(g_probe.byte_order, 0x4949);
}

TEST(SinarIaHeader, WithoutMetaTheBlockIsSkipped) {
  ScopedProbe probe(sinar(false, "Sinar eMotion 22"));
  read_sinar_ia_header();
  EXPECT_STREQ(g_probe.camera_make, "");
  EXPECT_STREQ(g_probe.camera_model, "");
  EXPECT_EQ(g_probe.sensor_width, 0);
  EXPECT_EQ(g_probe.preview_offset, 300);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::ppm_thumb);
}

TEST(SinarIaHeader, LongMakeTextIsEndedAndHugeCountIsCheap) {
  std::vector<std::uint8_t> bytes = sinar(true, std::string(70, 'S'));
  bytes[4] = bytes[5] = bytes[6] = bytes[7] = 0xFF;  // four billion entries
  double ms = elapsed_ms([&] {
    ScopedProbe probe(bytes);
    read_sinar_ia_header();
    EXPECT_EQ(std::string(g_probe.camera_make), std::string(63, 'S'));
  });
  EXPECT_LT(ms, 3000.0);
}

// ---------------------------------------------------------------------------
// Rollei

TEST(RolleiHeader, DateTimeAndPreviewFromKeys) {
  std::string text =
      "DSC-Image\nDAT=15.03.2010\nTIM=10:20:30\nHDR=4096\nX  =2048\nY  =1536\nTX =160\nTY =120\n"
      "EOHD\nHDR=1\n";
  ScopedProbe probe(text_bytes(text));
  read_rollei_header();
  EXPECT_EQ(g_probe.capture_time, kMar15_2010_102030);
  EXPECT_EQ(g_probe.preview_offset, 4096);
  EXPECT_EQ(g_probe.sensor_width, 2048);
  EXPECT_EQ(g_probe.sensor_height, 1536);
  EXPECT_EQ(g_probe.raw_offset, 4096u + 160 * 120 * 2);
  EXPECT_STREQ(g_probe.camera_make, "Rollei");
  EXPECT_STREQ(g_probe.camera_model, "d530flex");
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::rollei_thumb);
}

TEST(RolleiHeader, PartialDateAndMissingEnd) {
  // No time line and no EOHD: the time of day stays midnight; reading stops
  // at the end of the file.
  ScopedProbe probe(text_bytes("DAT=15.03.2010\nTX\nHDR=77"));
  read_rollei_header();
  EXPECT_EQ(g_probe.capture_time, kMar15_2010_102030 - (10 * 3600 + 20 * 60 + 30));
  EXPECT_EQ(g_probe.preview_offset, 77);
}

TEST(RolleiHeader, NoDateLeavesTheTime) {
  ScopedProbe probe(text_bytes("TIM=10:20:30\nEOHD\n"));
  read_rollei_header();
  EXPECT_EQ(g_probe.capture_time, 0);
}

// ---------------------------------------------------------------------------
// RIFF

std::vector<std::uint8_t> chunk(const std::string& tag, const std::vector<std::uint8_t>& body) {
  ByteWriter w(true);
  w.text(tag).u32(static_cast<std::uint32_t>(body.size())).raw(body);
  return w.bytes();
}

std::vector<std::uint8_t> list(const std::string& tag, const std::string& form,
                               const std::vector<std::vector<std::uint8_t>>& chunks) {
  ByteWriter body(true);
  body.text(form);
  for (const auto& c : chunks) body.raw(c);
  return chunk(tag, body.bytes());
}

std::int64_t riff_time(const std::vector<std::uint8_t>& bytes) {
  ScopedProbe probe(bytes, 0x4D4D);
  read_riff_chunk();
  EXPECT_EQ(g_probe.byte_order, 0x4949);
  return g_probe.capture_time;
}

TEST(RiffChunk, DateTextForms) {
  struct Case {
    const char* text;
    std::int64_t time;
  } cases[] = {
      {"Mon Mar 15 10:20:30 2010\n", kMar15_2010_102030},
      {"MON MAR 15 10:20:30 2010", kMar15_2010_102030},
      {"Mon mar 15 10:20:30 2010", kMar15_2010_102030},
      // An unknown month name counts as the thirteenth month: January of the
      // next year.
      {"Mon Foo 15 10:20:30 2009", kMar15_2010_102030 - (31 + 28) * 86400},
      {"Mon Mar 15 10:20 2010", 0},  // only five fields
      {"Mon Mar 15 10:20:30 1969", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string t = c.text;
    std::vector<std::uint8_t> idit = chunk("IDIT", std::vector<std::uint8_t>(t.begin(), t.end()));
    EXPECT_EQ(riff_time(list("RIFF", "AVI ", {list("LIST", "hdrl", {chunk("avih", {1, 2, 3, 4}), idit})})),
              c.time);
  }
}

TEST(RiffChunk, ChunksAfterTheDateStayAligned) {
  std::string t = "Mon Mar 15 10:20:30 2010";
  std::vector<std::uint8_t> late(t.begin(), t.end());
  late[17] = '4';  // 10:20:40 in a second date chunk after the first
  std::vector<std::uint8_t> first(t.begin(), t.end());
  EXPECT_EQ(riff_time(list("RIFF", "AVI ", {chunk("IDIT", first), chunk("JUNK", {0, 0, 0, 0}), chunk("IDIT", late)})),
            kMar15_2010_102030 + 10);
}

TEST(RiffChunk, LongDateChunkIsSkipped) {
  std::string t = "Mon Mar 15 10:20:30 2010";
  t.resize(64, ' ');
  EXPECT_EQ(riff_time(list("RIFF", "AVI ", {chunk("IDIT", std::vector<std::uint8_t>(t.begin(), t.end()))})), 0);
}

std::vector<std::uint8_t> tag_record(std::uint16_t id, const std::vector<std::uint8_t>& data) {
  ByteWriter w(true);
  w.u16(id).u16(static_cast<std::uint16_t>(data.size())).raw(data);
  return w.bytes();
}

std::vector<std::uint8_t> time_text(const std::string& t) {
  std::vector<std::uint8_t> b(t.begin(), t.end());
  b.resize(20, 0);
  return b;
}

TEST(RiffChunk, TagRecordTimesLaterWinsAndStaysAligned) {
  ByteWriter records(true);
  records.raw(tag_record(5, {1, 2, 3}));  // an odd-sized record to skip
  records.raw(tag_record(19, time_text("2010:03:15 10:20:30")));
  records.raw(tag_record(7, std::vector<std::uint8_t>(9, 0x20)));
  records.raw(tag_record(20, time_text("2010:03:15 10:20:50")));
  EXPECT_EQ(riff_time(list("RIFF", "AVI ", {chunk("nctg", records.bytes())})), kMar15_2010_102030 + 20);

  // A record of another size is not a time, even with id 19.
  ByteWriter odd(true);
  odd.raw(tag_record(19, std::vector<std::uint8_t>(19, '1')));
  EXPECT_EQ(riff_time(list("RIFF", "AVI ", {chunk("nctg", odd.bytes())})), 0);
}

TEST(RiffChunk, DeepListNestingAndHugeSizesFinishQuickly) {
  // A hundred thousand LISTs each holding the next, and a file of lists
  // whose sizes point far beyond the end.
  const int depth = 100000;
  ByteWriter deep(true);
  for (int i = 0; i < depth; ++i) deep.text("LIST").u32(static_cast<std::uint32_t>(12 * (depth - i))).text("AVI ");
  ByteWriter huge(true);
  huge.text("RIFF").u32(0xFFFFFFF0u).text("AVI ");
  for (int i = 0; i < 1000; ++i) huge.text("LIST").u32(0xFFFFFF00u).text("hdrl");
  for (const auto* bytes : {&deep.bytes(), &huge.bytes()}) {
    double ms = elapsed_ms([&] {
      ScopedProbe probe(*bytes);
      read_riff_chunk();
      EXPECT_EQ(g_probe.nesting_depth, 0);
    });
    EXPECT_LT(ms, 3000.0);
  }
}

// ---------------------------------------------------------------------------
// SMaL

std::vector<std::uint8_t> smal(int version, std::int32_t length_delta) {
  ByteWriter w(true);
  w.u16(0).u8(static_cast<std::uint8_t>(version));
  if (version == 6) w.zeros(5);
  std::size_t length_at = w.size();
  w.u32(0);
  if (version > 6) w.u32(0x400);
  w.u16(480).u16(640).pad_to(256);
  w.put_u32_at(length_at, static_cast<std::uint32_t>(static_cast<std::int32_t>(w.size()) + length_delta));
  return w.bytes();
}

TEST(SmalHeader, LengthWordMustEqualTheFileLength) {
  struct Case {
    int version;
    std::int32_t delta;
    const char* make;
    const char* model;
    std::uint32_t raw_offset;
  } cases[] = {
      {9, 0, "SMaL", "v9 640x480", 0x400}, {6, 0, "SMaL", "v6 640x480", 0},
      {9, 1, "", "", 0},                   {9, -1, "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " " + std::to_string(c.delta));
    std::vector<std::uint8_t> bytes = smal(c.version, c.delta);
    ScopedProbe probe(bytes, 0x4D4D);
    read_smal_header(0, static_cast<std::int32_t>(bytes.size()));
    EXPECT_STREQ(g_probe.camera_make, c.make);
    EXPECT_STREQ(g_probe.camera_model, c.model);
    EXPECT_EQ(g_probe.raw_offset, c.raw_offset);
    if (c.delta == 0) {
      EXPECT_EQ(g_probe.image_width, 640);
      EXPECT_EQ(g_probe.sensor_height, 480);
    }
  }
}

// ---------------------------------------------------------------------------
// Cine

std::vector<std::uint8_t> cine(std::uint32_t rotation, std::uint32_t pattern = 3, std::uint32_t time2 = 0,
                               std::uint16_t version = 2) {
  ByteWriter w(true);
  w.text("CI").u16(0).u16(version).pad_to(20);
  w.u32(1).u32(100).u32(200).u32(3000).u32(1268648430).u32(time2);
  w.pad_to(104).u32(1280).u32(1024).pad_to(114).u16(16);
  w.pad_to(200 + 792).u32(4711);
  w.pad_to(200 + 808).u32(0x01000000 | pattern);
  w.pad_to(200 + 884).u32(rotation);
  w.pad_to(200 + 1568).u32(2500000);
  w.pad_to(3000).u32(0x10000);
  return w.bytes();
}

TEST(CineHeader, RotationCodes) {
  struct Case {
    std::int32_t degrees;
    std::int32_t code;
  } cases[] = {{0, 2}, {90, 7}, {180, 1}, {270, 4}, {-90, 4}, {360, 2}, {45, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.degrees);
    ScopedProbe probe(cine(static_cast<std::uint32_t>(c.degrees)));
    read_cine_header();
    EXPECT_EQ(g_probe.orientation_code, c.code);
  }
}

TEST(CineHeader, NamesTimesExposureAndRawTest) {
  {
    ScopedProbe probe(cine(0), 0x4D4D);
    read_cine_header();
    EXPECT_STREQ(g_probe.camera_make, "CINE");
    EXPECT_STREQ(g_probe.camera_model, "4711");
    EXPECT_EQ(g_probe.capture_time, 1268648430);
    EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 0.0025f);
    EXPECT_EQ(g_probe.sensor_width, 1280);
    EXPECT_EQ(g_probe.sensor_height, 1024);
    EXPECT_EQ(g_probe.raw_offset, 0x10008u);
    EXPECT_EQ(g_probe.raw_supported, 1);
  }
  {
    ScopedProbe probe(cine(0, 4, 1300000000));
    read_cine_header();
    EXPECT_EQ(g_probe.capture_time, 1300000000);
    EXPECT_EQ(g_probe.raw_supported, 1);
  }
  {
    ScopedProbe probe(cine(0, 5));
    read_cine_header();
    EXPECT_EQ(g_probe.raw_supported, 0);
  }
  {
    ScopedProbe probe(cine(0, 3, 0, 1));
    read_cine_header();
    EXPECT_EQ(g_probe.raw_supported, 0);
  }
}

// ---------------------------------------------------------------------------
// RAF directory

TEST(RafDirectory, GeometryRecordsAndCountLimit) {
  auto build = [](std::uint32_t count) {
    ByteWriter w(false);
    w.pad_to(16).u32(count);
    w.u16(0x0100).u16(4).u16(2000).u16(3000);
    w.u16(0x0999).u16(3).zeros(3);  // odd-sized record to skip
    w.u16(0x0121).u16(4).u16(2848).u16(4284);
    w.zeros(32);
    return w.bytes();
  };
  {
    ScopedProbe probe(build(3), 0x4D4D);
    read_raf_directory(16);
    EXPECT_EQ(g_probe.sensor_height, 2000);
    EXPECT_EQ(g_probe.sensor_width, 3000);
    EXPECT_EQ(g_probe.image_height, 2848);
    EXPECT_EQ(g_probe.image_width, 4287);
  }
  {
    ScopedProbe probe(build(256), 0x4D4D);
    read_raf_directory(16);
    EXPECT_EQ(g_probe.sensor_height, 0);
    EXPECT_EQ(g_probe.image_width, 0);
  }
}

}  // namespace

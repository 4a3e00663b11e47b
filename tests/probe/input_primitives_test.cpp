// The probe's input primitives: byte order, short reads at the end of the
// file, field type sizes, typed values, time stamps, texts, searches, the
// data-error diagnostic and the JPEG marker reader in information mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "probe/probe_input.h"
#include "support/byte_writer.h"
#include "support/probe_fixture.h"
#include "support/raw_builder.h"
#include "support/sparse_avi.h"
#include "support/wide_directory.h"
#include "tests/probe/core_builders.h"

namespace {

using core_test::Bytes;

void use_utc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

// ---------------------------------------------------------------------------
// ProbeFile: the read window

// Whatever the pattern of jumps, steps and read sizes, across window loads
// of every size and past the end, the bytes read are the file's.
TEST(ProbeFileWindow, AnyReadPatternGivesTheFileBytes) {
  Bytes data(300000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
  const auto size = static_cast<std::int64_t>(data.size());
  ScopedProbe probe(data);
  ProbeFile& f = probe.file();
  f.set_input_budget(~std::uint64_t{0});
  std::mt19937 rng(20261208);
  const std::size_t sizes[] = {1, 2, 4, 8, 12, 100, 511, 512, 513, 4000, 32767, 32768, 70000};
  for (int i = 0; i < 20000; ++i) {
    SCOPED_TRACE(i);
    switch (rng() % 3) {
      case 0: f.seek(static_cast<std::int64_t>(rng() % (data.size() + 600))); break;  // jump, also past the end
      case 1: f.skip(static_cast<std::int64_t>(rng() % 2000)); break;                 // step on
      default: f.skip(-static_cast<std::int64_t>(std::min<std::uint64_t>(rng() % 600, f.tell()))); break;
    }
    const std::int64_t at = f.tell();
    if (rng() % 4 == 0) {
      ASSERT_EQ(f.get_byte(), at < size ? data[static_cast<std::size_t>(at)] : -1);
      continue;
    }
    const std::size_t n = sizes[rng() % std::size(sizes)];
    Bytes got(n, 0xEE);
    const std::size_t expect = at >= size ? 0 : std::min<std::size_t>(n, static_cast<std::size_t>(size - at));
    ASSERT_EQ(f.read(got.data(), n), expect);
    ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(expect),
                           data.begin() + std::min<std::int64_t>(at, size)));
    ASSERT_EQ(f.tell(), at + static_cast<std::int64_t>(expect));
  }
}

// What the window costs in input. Reading on through a file reads it about
// once, in few reads. Walking the chunk headers of a video reads about a
// header per chunk: it once loaded a whole window per header, 32 KiB to
// learn 8 bytes, which read a 1 GB video of 20,000 chunks nearly whole.
TEST(ProbeFileWindow, InputCostOfReadingOnAndOfWalkingChunks) {
  Bytes data(1 << 20, 0x5A);
  ScopedProbe probe(data);
  while (probe.file().get_byte() >= 0) {
  }
  EXPECT_LE(probe.file().source_bytes(), data.size() + probe_limits::kReadWindow);
  EXPECT_LE(probe.file().source_reads(), data.size() / probe_limits::kReadWindow + 8);

  const sparse_avi::Layout layout{2000, 53000};  // 106 MB, a sparse file
  const std::filesystem::path avi = std::filesystem::path(testing::TempDir()) / "veltrano_walk.avi";
  ASSERT_TRUE(sparse_avi::write(avi.string(), layout));
  ProbeReport report;
  ASSERT_TRUE(probe_report(native_path(avi), report));
  std::filesystem::remove(avi);
  EXPECT_LE(report.input_reads, layout.chunks + 16u);
  EXPECT_LE(report.input_bytes, layout.chunks * 1024u);
}

// A directory of 65,535 entries whose values lie at the end of the file:
// each entry sent the one window there and back, reloading 32 KiB a step,
// and a 0.8 MB file cost 2 GB of input (6 GB when IFD0 pointed at the
// directory three times). Probing it, and extracting with either Exif, now
// reads about the file once a pass, within the input budget.
TEST(ProbeFileWindow, AWideDirectoryWithItsValuesElsewhereReadsAboutTheFile) {
  const Bytes jpeg = core_test::make_jpeg(64, 48, 3);
  for (unsigned extra : {0u, 2u}) {
    SCOPED_TRACE(extra);
    const Bytes tiff = wide_directory::build(jpeg, extra);
    const std::filesystem::path path = std::filesystem::path(testing::TempDir()) / "veltrano_wide.tif";
    ASSERT_TRUE(raw_builder::write_file(path.string(), tiff));
    ProbeReport report;
    ASSERT_TRUE(probe_report(native_path(path), report));
    EXPECT_GT(report.exposure, 0.0f);  // the values were read, not cut off by the budget
    EXPECT_LE(report.input_bytes, (1 + extra) * tiff.size() + probe_limits::kReadWindow * 16);
    for (ExifMode mode : {ExifMode::basic, ExifMode::full}) {
      ExtractedPreview preview;
      ProbeReport extracted;
      EXPECT_EQ(probe_extract_preview(native_path(path), nullptr, mode, preview, &extracted),
                ExtractOutcome::extracted);
      std::free(preview.buffer);
      EXPECT_LE(extracted.input_bytes, 4 * tiff.size() + (1u << 20));
    }
    std::filesystem::remove(path);
  }
}

// The budget holds whatever the layout: reads past it come back short.
TEST(ProbeFileWindow, ReadsStopAtTheInputBudget) {
  Bytes data(100000, 0x11);
  ScopedProbe probe(data);
  ProbeFile& f = probe.file();
  const std::uint64_t budget = input_budget_for(static_cast<std::int64_t>(data.size()));
  ASSERT_EQ(budget, 4 * data.size() + (1u << 20));
  // Blocks larger than a window are read straight each time.
  Bytes block(40000);
  for (int i = 0; i < 100 && !f.input_budget_spent(); ++i) {
    f.seek(0);
    f.read(block.data(), block.size());
  }
  EXPECT_EQ(f.source_bytes(), budget);
  EXPECT_TRUE(f.input_budget_spent());
  f.seek(32800);  // in no window
  EXPECT_EQ(f.read(block.data(), 8), 0u);
}

// ---------------------------------------------------------------------------
// read_u16 / read_u32

TEST(ReadWords, ByteOrderDecidesHowWordsAreAssembled) {
  const Bytes bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  struct Case {
    std::uint16_t order;
    std::uint16_t u16;
    std::uint32_t u32;
  } cases[] = {
      {0x4949, 0x3412, 0xBC9A7856},  // "II": little-endian
      {0x4D4D, 0x1234, 0x56789ABC},  // "MM": big-endian
      {0x0000, 0x1234, 0x56789ABC},  // anything else: big-endian
      {0x4D49, 0x1234, 0x56789ABC},
      {0x4949 + 1, 0x1234, 0x56789ABC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order);
    ScopedProbe probe(bytes, c.order);
    EXPECT_EQ(read_u16(), c.u16);
    EXPECT_EQ(read_u32(), c.u32);
  }
}

TEST(ReadWords, MissingBytesAtTheEndReadAsFF) {
  for (std::uint16_t order : {std::uint16_t{0x4949}, std::uint16_t{0x4D4D}}) {
    SCOPED_TRACE(order);
    ScopedProbe probe({0x01, 0x02, 0x03}, order);
    probe.file().seek(3);
    EXPECT_EQ(read_u16(), 0xFFFF);
    EXPECT_EQ(read_u32(), 0xFFFFFFFFu);
    // One byte left: the other bytes of the word are 0xFF.
    probe.file().seek(2);
    EXPECT_EQ(read_u16(), order == 0x4949 ? 0xFF03 : 0x03FF);
    probe.file().seek(1);
    EXPECT_EQ(read_u32(), order == 0x4949 ? 0xFFFF0302u : 0x0203FFFFu);
  }
}

TEST(ReadWords, IntOfTypeReadsShortsForType3Only) {
  const Bytes bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  ScopedProbe probe(bytes, 0x4949);
  EXPECT_EQ(read_int_of_type(3), 0x0201u);
  EXPECT_EQ(read_int_of_type(4), 0x06050403u);
  probe.file().seek(0);
  EXPECT_EQ(read_int_of_type(1), 0x04030201u);  // every other type: 32 bits
}

TEST(ReadWords, U16ArraySwapsWhenTheFileOrderDiffersFromTheHost) {
  const Bytes bytes = {0x12, 0x34, 0xAB, 0xCD};
  {
    ScopedProbe probe(bytes, 0x4D4D);
    std::uint16_t w[2] = {};
    read_u16_array(w, 2);
    EXPECT_EQ(w[0], 0x1234);
    EXPECT_EQ(w[1], 0xABCD);
    EXPECT_EQ(g_probe.data_error_count, 0u);
  }
  {
    ScopedProbe probe(bytes, 0x4949);
    std::uint16_t w[2] = {};
    read_u16_array(w, 2);
    EXPECT_EQ(w[0], 0x3412);
    EXPECT_EQ(w[1], 0xCDAB);
  }
}

TEST(ReadWords, ShortU16ArrayIsADataError) {
  ScopedProbe probe({0x12, 0x34, 0x56}, 0x4D4D);
  std::uint16_t w[4] = {};
  testing::internal::CaptureStderr();
  read_u16_array(w, 4);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_probe.data_error_count, 1u);
  EXPECT_EQ(err, "test.raw: Unexpected end of file\n");
  EXPECT_EQ(w[0], 0x1234);
}

// ---------------------------------------------------------------------------
// dir_type_size and read_tag_header

TEST(DirTypeSize, SizesOfEveryType) {
  const unsigned expected[14] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 8};
  for (unsigned t = 0; t < 14; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(dir_type_size(t), expected[t]);
  }
  for (unsigned t : {14u, 15u, 100u, 65535u}) {
    SCOPED_TRACE(t);
    EXPECT_EQ(dir_type_size(t), 1u);
  }
}

// One entry at offset 4 of a little-endian buffer; the value offset field
// (when used) points at base-relative 40.
Bytes one_entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t field) {
  ByteWriter w(true);
  w.zeros(4).u16(tag).u16(type).u32(count).u32(field);
  w.pad_to(128);
  return w.bytes();
}

TEST(ReadTagHeader, ValueInTheEntryOrAtBasePlusOffset) {
  struct Case {
    std::uint16_t type;
    std::uint32_t count;
    bool in_entry;
  } cases[] = {
      {2, 4, true},   {2, 5, false},  {3, 2, true},   {3, 3, false}, {4, 1, true},
      {4, 2, false},  {5, 1, false},  {7, 4, true},   {11, 1, true}, {12, 1, false},
      {13, 1, false}, {14, 4, true},  {14, 5, false}, {99, 4, true}, {1, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " count " << c.count);
    ScopedProbe probe(one_entry(0x010F, c.type, c.count, 40), 0x4949);
    probe.file().seek(4);
    TagHeader h = read_tag_header(20);
    EXPECT_EQ(h.tag, 0x010Fu);
    EXPECT_EQ(h.type, c.type);
    EXPECT_EQ(h.count, c.count);
    EXPECT_EQ(h.next, 16);  // just after the 4-byte value field
    EXPECT_EQ(probe.file().tell(), c.in_entry ? 12 : 60);
  }
}

TEST(ReadTagHeader, BigEndianEntry) {
  ByteWriter w(false);
  w.u16(0x8769).u16(4).u32(2).u32(0x30);
  w.pad_to(0x40);
  ScopedProbe probe(w.bytes(), 0x4D4D);
  TagHeader h = read_tag_header(0);
  EXPECT_EQ(h.tag, 0x8769u);
  EXPECT_EQ(h.count, 2u);
  EXPECT_EQ(probe.file().tell(), 0x30);
}

// ---------------------------------------------------------------------------
// read_real_of_type

TEST(ReadRealOfType, IntegerTypes) {
  ByteWriter le(true);
  le.u16(0xFFFE).u32(0xFFFFFFFE).u16(0xFFFE).u32(0xFFFFFFFE);
  ScopedProbe probe(le.bytes(), 0x4949);
  EXPECT_EQ(read_real_of_type(3), 65534.0);
  EXPECT_EQ(read_real_of_type(4), 4294967294.0);
  EXPECT_EQ(read_real_of_type(8), -2.0);
  EXPECT_EQ(read_real_of_type(9), -2.0);
}

TEST(ReadRealOfType, RationalsDivideInDoubleArithmetic) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    ByteWriter w(little);
    w.u32(1).u32(250);                   // RATIONAL 1/250
    w.u32(0xFFFFFFF6).u32(4);            // SRATIONAL -10/4
    w.u32(0xFFFFFFF6).u32(4);            // same bits as RATIONAL: unsigned
    w.u32(7).u32(0);                     // RATIONAL 7/0
    w.u32(0).u32(0);                     // RATIONAL 0/0
    w.u32(0xFFFFFFFF).u32(0);            // SRATIONAL -1/0
    ScopedProbe probe(w.bytes(), little ? 0x4949 : 0x4D4D);
    EXPECT_DOUBLE_EQ(read_real_of_type(5), 0.004);
    EXPECT_DOUBLE_EQ(read_real_of_type(10), -2.5);
    EXPECT_DOUBLE_EQ(read_real_of_type(5), 4294967286.0 / 4);
    double inf = read_real_of_type(5);
    EXPECT_TRUE(std::isinf(inf) && inf > 0);
    EXPECT_TRUE(std::isnan(read_real_of_type(5)));
    double neg = read_real_of_type(10);
    EXPECT_TRUE(std::isinf(neg) && neg < 0);
    EXPECT_EQ(g_probe.data_error_count, 0u);
  }
}

TEST(ReadRealOfType, FloatBitsInFileOrder) {
  ScopedProbe be({0x3E, 0x20, 0x00, 0x00}, 0x4D4D);  // 0.15625 big-endian
  EXPECT_EQ(read_real_of_type(11), 0.15625);
  ScopedProbe le({0x00, 0x00, 0x60, 0xC0}, 0x4949);  // -3.5 little-endian
  EXPECT_EQ(read_real_of_type(11), -3.5);
}

TEST(ReadRealOfType, DoubleIsAssembledByFileOrder) {
  // 1/3 stored big-endian; -2.5e10 stored little-endian.
  ScopedProbe be({0x3F, 0xD5, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, 0x4D4D);
  EXPECT_EQ(read_real_of_type(12), 1.0 / 3);
  ScopedProbe le({0x00, 0x00, 0x00, 0xE8, 0x76, 0x48, 0x17, 0xC2}, 0x4949);
  EXPECT_EQ(read_real_of_type(12), -2.5e10);
}

TEST(ReadRealOfType, OtherTypesReadOneByte) {
  for (unsigned type : {0u, 1u, 2u, 6u, 7u, 13u, 14u, 200u}) {
    SCOPED_TRACE(type);
    ScopedProbe probe({0xC8, 0x05}, 0x4949);
    EXPECT_EQ(read_real_of_type(type), 200.0);
    EXPECT_EQ(probe.file().tell(), 1);
    EXPECT_EQ(read_real_of_type(type), 5.0);
    EXPECT_EQ(read_real_of_type(type), -1.0);  // end of file
  }
}

// ---------------------------------------------------------------------------
// read_exif_time

TEST(ReadExifTime, SixNumbersGiveTheWallClockTime) {
  use_utc();
  struct Case {
    const char* text;
    std::int64_t seconds;
  } cases[] = {
      {"2010:06:01 12:30:00", 1275395400},
      {"2000:02:29 23:59:59", 951868799},
      {"1970:01:01 00:00:01", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ByteWriter w;
    w.text(c.text).text("XYZ");
    ScopedProbe probe(w.bytes());
    read_exif_time(false);
    EXPECT_EQ(g_probe.capture_time, c.seconds);
    EXPECT_EQ(probe.file().tell(), 19);
  }
}

TEST(ReadExifTime, IncompleteOrEarlyTextsChangeNothing) {
  use_utc();
  for (const char* text : {"2010:06:01", "2010:06:01 12:30", "1969:12:31 23:59:59", "1970:01:01 00:00:00",
                           "not a time at all!!", "                   "}) {
    SCOPED_TRACE(text);
    ScopedProbe probe(Bytes(text, text + std::strlen(text)));
    g_probe.capture_time = 777;
    read_exif_time(false);
    EXPECT_EQ(g_probe.capture_time, 777);
  }
}

TEST(ReadExifTime, ReversedTextIsReadBackToFront) {
  use_utc();
  std::string text = "2010:06:01 12:30:00";
  std::string reversed(text.rbegin(), text.rend());
  ScopedProbe probe(Bytes(reversed.begin(), reversed.end()));
  read_exif_time(true);
  EXPECT_EQ(g_probe.capture_time, 1275395400);
}

// ---------------------------------------------------------------------------
// read_text_at, find_bytes, scan_stride_bytes

TEST(ReadTextAt, KeepsTheLowByteOfSixteenBitCharacters) {
  ByteWriter le(true);
  le.zeros(6).u16('A').u16(0x1242).u16('C').u16(0).u16('D');
  {
    ScopedProbe probe(le.bytes(), 0x4949);
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    read_text_at(6, buf, sizeof buf);
    EXPECT_STREQ(buf, "ABC");
  }
  {
    ScopedProbe probe(le.bytes(), 0x4949);
    char buf[3];
    read_text_at(6, buf, sizeof buf);  // size-1 characters
    EXPECT_STREQ(buf, "AB");
  }
  ByteWriter be(false);
  be.u16('N').u16('O').u16(0x4100).u16('X');
  {
    ScopedProbe probe(be.bytes(), 0x4D4D);
    char buf[16];
    read_text_at(0, buf, sizeof buf);
    EXPECT_STREQ(buf, "NO");  // 0x4100 has a zero low byte
  }
}

TEST(FindBytes, FirstMatchWithinTheData) {
  const char data[] = "xxMMMMyyMMMM";
  EXPECT_EQ(find_bytes(data, 12, "MMMM", 4), 2);
  EXPECT_EQ(find_bytes(data, 12, "yyMMMM", 6), 6);
  EXPECT_EQ(find_bytes(data, 12, "IIII", 4), -1);
  EXPECT_EQ(find_bytes(data, 5, "MMMM", 4), -1);  // would end past the data
  EXPECT_EQ(find_bytes(data, 6, "MMMM", 4), 2);
  EXPECT_EQ(find_bytes(data, 3, "xxMMMM", 6), -1);
}

TEST(ScanStrideBytes, AnswersOneWhenASampledByteExceeds15) {
  Bytes bytes(337284, 15);
  bytes[3285] = 200;  // not a sampled offset
  {
    ScopedProbe probe(bytes);
    EXPECT_EQ(scan_stride_bytes(), 0);
  }
  for (std::size_t k : {0u, 57u, 99u}) {
    SCOPED_TRACE(k);
    Bytes b = bytes;
    b[3284 + 3340 * k] = 16;
    ScopedProbe probe(b);
    EXPECT_EQ(scan_stride_bytes(), 1);
  }
  ScopedProbe small(Bytes(100, 0xFF));  // every sample past the end
  EXPECT_EQ(scan_stride_bytes(), 0);
}

// ---------------------------------------------------------------------------
// report_data_error

TEST(ReportDataError, OnlyTheFirstErrorIsPrinted) {
  ScopedProbe probe(Bytes(32, 0));
  probe.file().seek(31);
  read_u16();  // a short read ends at the end of the file
  testing::internal::CaptureStderr();
  report_data_error();
  probe.file().seek(4);
  report_data_error();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "test.raw: Unexpected end of file\n");
  EXPECT_EQ(g_probe.data_error_count, 2u);
}

TEST(ReportDataError, CorruptDataNamesThePosition) {
  ScopedProbe probe(Bytes(0x200, 0), 0x4949, "dir/photo.nef");
  probe.file().seek(0x1A0);
  testing::internal::CaptureStderr();
  report_data_error();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "dir/photo.nef: Corrupt data near 0x1a0\n");
  EXPECT_EQ(g_probe.data_error_count, 1u);
}

TEST(RequireMemory, NullPointerAbortsWithTheRoutineName) {
  ScopedProbe probe(Bytes(4, 0));
  int x = 0;
  EXPECT_NO_THROW(require_memory(&x, "jpeg_thumb()"));
  testing::internal::CaptureStderr();
  EXPECT_THROW(require_memory(nullptr, "jpeg_thumb()"), ProbeAbort);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "test.raw: Out of memory in jpeg_thumb()\n");
}

// ---------------------------------------------------------------------------
// ljpeg_start

Bytes frame(std::uint8_t first, std::uint16_t marker, std::uint8_t bits, std::uint16_t height,
            std::uint16_t width, std::uint8_t comps, std::uint8_t sampling, std::uint8_t point_transform = 0) {
  ByteWriter w(false);
  w.u8(first).u8(0xD8);
  w.u16(marker).u16(static_cast<std::uint16_t>(8 + 3 * comps)).u8(bits).u16(height).u16(width).u8(comps);
  for (int c = 0; c < comps; ++c) w.u8(static_cast<std::uint8_t>(c + 1)).u8(c == 0 ? sampling : 0x11).u8(0);
  w.u16(0xFFDA).u16(static_cast<std::uint16_t>(6 + 2 * comps)).u8(comps);
  for (int c = 0; c < comps; ++c) w.u8(static_cast<std::uint8_t>(c + 1)).u8(0);
  w.u8(1).u8(0).u8(point_transform);  // predictor 1
  w.zeros(16);
  return w.bytes();
}

TEST(LjpegStart, FrameHeadersGiveSizeBitsAndColours) {
  struct Case {
    const char* name;
    Bytes data;
    int bits, height, width, colours, sraw, predictor;
  } cases[] = {
      {"baseline C0", frame(0xFF, 0xFFC0, 8, 120, 160, 3, 0x22), 8, 120, 160, 3, 0, 1},
      {"lossless C3", frame(0xFF, 0xFFC3, 14, 1000, 1500, 2, 0x11), 14, 1000, 1500, 2, 0, 1},
      {"sraw 2x1", frame(0xFF, 0xFFC3, 15, 300, 400, 3, 0x21), 15, 300, 400, 4, 1, 1},
      {"sraw 2x2", frame(0xFF, 0xFFC3, 15, 300, 400, 3, 0x22), 15, 300, 400, 6, 3, 1},
      {"point transform", frame(0xFF, 0xFFC3, 14, 10, 20, 2, 0x11, 2), 12, 10, 20, 2, 0, 1},
      {"first byte not FF", frame(0x00, 0xFFC0, 8, 48, 64, 3, 0x11), 8, 48, 64, 3, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProbe probe(c.data, 0x4949);
    LosslessJpegHeader h;
    ASSERT_EQ(ljpeg_start(h, 1), 1);
    EXPECT_EQ(h.bits, c.bits);
    EXPECT_EQ(h.height, c.height);
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.colours, c.colours);
    EXPECT_EQ(h.sraw, c.sraw);
    EXPECT_EQ(h.predictor, c.predictor);
    EXPECT_EQ(h.restart_interval, 2147483647);
  }
}

TEST(LjpegStart, NotAJpeg) {
  Bytes no_d8 = frame(0xFF, 0xFFC0, 8, 1, 1, 3, 0x11);
  no_d8[1] = 0xD9;
  ScopedProbe probe(no_d8);
  LosslessJpegHeader h;
  EXPECT_EQ(ljpeg_start(h, 1), 0);
  // A marker of 0xFF00 or below.
  ScopedProbe low({0xFF, 0xD8, 0xFF, 0x00, 0x00, 0x04, 0, 0});
  EXPECT_EQ(ljpeg_start(h, 1), 0);
  ScopedProbe empty(Bytes{});
  EXPECT_EQ(ljpeg_start(h, 1), 0);
}

TEST(LjpegStart, RestartIntervalMarker) {
  ByteWriter w(false);
  w.u16(0xFFD8).u16(0xFFDD).u16(4).u16(0x0123);
  Bytes rest = frame(0xFF, 0xFFC0, 8, 2, 3, 3, 0x11);
  w.raw(Bytes(rest.begin() + 2, rest.end()));
  ScopedProbe probe(w.bytes());
  LosslessJpegHeader h;
  ASSERT_EQ(ljpeg_start(h, 1), 1);
  EXPECT_EQ(h.restart_interval, 0x0123);
  EXPECT_EQ(h.width, 3);
}

// A frame header whose payload is 9 bytes (one component) is followed by a
// stray byte in non-DNG files, which the reader drops.
Bytes nine_byte_frame() {
  ByteWriter w(false);
  w.u16(0xFFD8).u16(0xFFC3).u16(11).u8(12).u16(50).u16(60).u8(1).u8(1).u8(0x11).u8(0);
  w.u8(0x00);  // the stray byte
  w.u16(0xFFDA).u16(8).u8(1).u8(1).u8(0).u8(1).u8(0).u8(0);
  w.zeros(8);
  return w.bytes();
}

TEST(LjpegStart, NineByteFrameDropsOneByteOutsideDng) {
  {
    ScopedProbe probe(nine_byte_frame());
    LosslessJpegHeader h;
    ASSERT_EQ(ljpeg_start(h, 1), 1);
    EXPECT_EQ(h.width, 60);
    EXPECT_EQ(h.height, 50);
  }
  {
    ScopedProbe probe(nine_byte_frame());
    g_probe.dng_version = 0x01010000;
    LosslessJpegHeader h;
    // The stray byte is not skipped: the next "marker" is 0x00FF.
    EXPECT_EQ(ljpeg_start(h, 1), 0);
  }
}

TEST(LjpegStart, SegmentLengthBelowTwoStaysInsideTheData) {
  for (std::uint16_t length : {0, 1}) {
    SCOPED_TRACE(length);
    ByteWriter w(false);
    w.u16(0xFFD8).u16(0xFFC4).u16(length);
    w.raw(Bytes(40, 0xFF));
    ScopedProbe probe(w.bytes());
    LosslessJpegHeader h;
    int r = ljpeg_start(h, 1);
    EXPECT_LE(r, 1);
    EXPECT_EQ(h.width, 0);  // no frame header was read
    EXPECT_LE(probe.file().tell(), probe.file().size());
    // The reader is still usable afterwards.
    ScopedProbe next(frame(0xFF, 0xFFC0, 8, 7, 9, 3, 0x11));
    ASSERT_EQ(ljpeg_start(h, 1), 1);
    EXPECT_EQ(h.width, 9);
  }
}

// ---------------------------------------------------------------------------
// Orientation codes from rotation angles

TEST(OrientationCodes, RotationDegreesMapToCodes) {
  struct Case {
    std::int64_t degrees;
    int code;
  } cases[] = {{0, 0}, {90, 6}, {180, 3}, {270, 5}, {360, 0}, {450, 6}, {-90, 5}, {-180, 3}, {720 + 270, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.degrees);
    EXPECT_EQ(rotation_degrees_to_code(c.degrees), c.code);
  }
  for (std::int64_t bad : {45, 1, 91, -1, 359}) {
    SCOPED_TRACE(bad);
    EXPECT_LT(rotation_degrees_to_code(bad), 0);
  }
}

TEST(OrientationCodes, UsableCodeNeverLeavesTheTable) {
  for (int code = 0; code <= 7; ++code) EXPECT_EQ(usable_orientation_code(code), code);
  struct Case {
    std::int32_t code;
    int usable;
  } cases[] = {{90, 6}, {180, 3}, {270, 5}, {360, 0}, {8, 0}, {-1, 0}, {45, 0}, {1000, 0}, {-2147483647 - 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(usable_orientation_code(c.code), c.usable);
  }
}

}  // namespace

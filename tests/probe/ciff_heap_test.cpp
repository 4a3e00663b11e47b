// CIFF heaps: the records this system reads, nested heaps, limits and
// self-containing heaps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/container_builders.h"

namespace {

constexpr std::uint32_t kHeapStart = 26;

// Probes a CRW built around the heap, as the top-level probe would call it.
void read_crw(const std::vector<std::uint8_t>& heap, bool little = true) {
  std::vector<std::uint8_t> file = build_crw(heap, little);
  g_probe.byte_order = little ? 0x4949 : 0x4D4D;
  ProbeFile pf(file);
  ProbeFile* saved = g_probe.probe_file;
  g_probe.probe_file = &pf;
  read_ciff_heap(kHeapStart, static_cast<std::uint32_t>(file.size()) - kHeapStart);
  g_probe.probe_file = saved;
}

CiffRecord in_entry(std::uint16_t type, std::uint32_t value) {
  CiffRecord r{type, {}, true, value};
  return r;
}

std::vector<std::uint8_t> floats(float a, float b, float c) {
  ByteWriter w(true);
  std::uint32_t bits[3];
  float v[3] = {a, b, c};
  std::memcpy(bits, v, sizeof bits);
  w.u32(bits[0]).u32(bits[1]).u32(bits[2]);
  return w.bytes();
}

std::vector<std::uint8_t> shot_info(std::uint16_t iso, std::int16_t aperture, std::int16_t exposure,
                                    std::uint16_t tenths) {
  ByteWriter w(true);
  w.u32(0).u16(iso).u16(0).u16(static_cast<std::uint16_t>(aperture));
  w.u16(static_cast<std::uint16_t>(exposure)).u16(0).u16(3).pad_to(48).u16(tenths).zeros(14);
  return w.bytes();
}

class CiffHeap : public ::testing::Test {
 protected:
  ScopedProbe probe_{std::vector<std::uint8_t>(8, 0)};
};

TEST_F(CiffHeap, PreviewRecordAtItsHeapOffset) {
  CiffRecord preview{0x2007, std::vector<std::uint8_t>(12000, 0xAB)};
  preview.data_padding = 0x1A00;
  read_crw(build_ciff_heap({preview}));
  EXPECT_EQ(g_probe.preview_offset, static_cast<std::int32_t>(kHeapStart + 0x1A00));
  EXPECT_EQ(g_probe.preview_length, 12000u);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
}

TEST_F(CiffHeap, MakeModelAndArtistInEitherByteOrder) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    reset_probe_state();
    std::vector<std::uint8_t> names = text_bytes(std::string("Canon\0Canon EOS D30\0", 20));
    names.resize(140, 0);
    std::vector<std::uint8_t> artist = text_bytes("Jo Photographer");
    artist.resize(64, 0);
    read_crw(build_ciff_heap({{0x080A, names}, {0x0810, artist}}, little), little);
    EXPECT_STREQ(g_probe.camera_make, "Canon");
    EXPECT_STREQ(g_probe.camera_model, "Canon EOS D30");
    EXPECT_STREQ(g_probe.artist_name, "Jo Photographer");
  }
}

TEST_F(CiffHeap, FocalLengthUnits) {
  struct Case {
    std::uint32_t value;
    float focal;
  } cases[] = {{0x00320001, 50.0f}, {0x00320002, 1.5625f}, {0x01000000, 256.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    reset_probe_state();
    read_crw(build_ciff_heap({in_entry(0x5029, c.value)}));
    EXPECT_FLOAT_EQ(g_probe.focal_length_mm, c.focal);
  }
}

TEST_F(CiffHeap, ShotInformationAndTheTenthsFallback) {
  struct Case {
    const char* name;
    std::int16_t exposure_code;
    std::uint16_t tenths;
    float exposure;
  } cases[] = {
      {"code", 96, 0, 0.125f},
      {"negative code: long exposure", -64, 999, 4.0f},
      {"code beyond a million seconds: tenths", -1000, 300, 30.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_probe_state();
    read_crw(build_ciff_heap({{0x102A, shot_info(160, 128, c.exposure_code, c.tenths)}}));
    EXPECT_FLOAT_EQ(g_probe.iso_rating, 100.0f);
    EXPECT_FLOAT_EQ(g_probe.f_number, 4.0f);
    EXPECT_FLOAT_EQ(g_probe.exposure_seconds, c.exposure);
  }
}

TEST_F(CiffHeap, ExposureRecordsLastOneWins) {
  CiffRecord apex{0x1818, floats(0, 7.0f, 5.0f)};
  CiffRecord shot{0x102A, shot_info(160, 64, 32, 0)};
  read_crw(build_ciff_heap({shot, apex}));
  EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 1.0f / 128);
  EXPECT_NEAR(g_probe.f_number, std::pow(2.0, 2.5), 1e-5);

  reset_probe_state();
  read_crw(build_ciff_heap({apex, shot}));
  EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 0.5f);
  EXPECT_FLOAT_EQ(g_probe.f_number, 2.0f);
}

TEST_F(CiffHeap, RotationBecomesOrientationCode) {
  struct Case {
    std::int32_t degrees;
    std::int32_t code;
  } cases[] = {{0, 0}, {90, 6}, {180, 3}, {270, 5}, {-90, 5}, {450, 6}, {45, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.degrees);
    reset_probe_state();
    ByteWriter info(true);
    info.zeros(12).u32(static_cast<std::uint32_t>(c.degrees)).zeros(16);
    read_crw(build_ciff_heap({{0x1810, info.bytes()}}));
    EXPECT_EQ(g_probe.orientation_code, c.code);
  }
}

TEST_F(CiffHeap, CaptureTimesFromEntryAndData) {
  read_crw(build_ciff_heap({in_entry(0x580E, 1268648430)}));
  EXPECT_EQ(g_probe.capture_time, 1268648430);

  reset_probe_state();
  read_crw(build_ciff_heap({{0x180E, bytes_of({3000000000u, 0, 0})}}));
  EXPECT_EQ(g_probe.capture_time, 3000000000LL);  // unsigned in the data form

  reset_probe_state();
  read_crw(build_ciff_heap({in_entry(0x580E, 0xFFFFFFFFu)}));
  EXPECT_EQ(g_probe.capture_time, -1);  // signed in the entry form
}

TEST_F(CiffHeap, NestedHeapsByTypeHighByte) {
  std::vector<std::uint8_t> inner = build_ciff_heap({in_entry(0x5029, 0x00180001)});
  struct Case {
    std::uint16_t type;
    float focal;
  } cases[] = {{0x300A, 24.0f}, {0x2804, 24.0f}, {0x28FF, 24.0f}, {0x2007, 0}, {0x2904, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    reset_probe_state();
    read_crw(build_ciff_heap({{c.type, inner}}));
    EXPECT_FLOAT_EQ(g_probe.focal_length_mm, c.focal);
  }
}

TEST_F(CiffHeap, EntryLimit) {
  for (unsigned n : {100u, 101u}) {
    SCOPED_TRACE(n);
    reset_probe_state();
    std::vector<CiffRecord> records(n - 1, in_entry(0x5817, 1));
    records.push_back(in_entry(0x5029, 0x00320001));
    read_crw(build_ciff_heap(records));
    EXPECT_FLOAT_EQ(g_probe.focal_length_mm, n == 100 ? 50.0f : 0.0f);
  }
}

TEST_F(CiffHeap, HeapThatContainsItselfFinishesQuickly) {
  // Every entry names the whole heap (data offset 0, size = heap length) as
  // a nested heap: unbounded recursion, and exponential without a budget.
  const std::size_t entries = 100;
  const std::uint32_t heap_length = static_cast<std::uint32_t>(2 + 10 * entries + 4);
  ByteWriter heap(true);
  heap.u16(entries);
  for (std::size_t i = 0; i < entries; ++i) heap.u16(0x300A).u32(heap_length).u32(0);
  heap.u32(0);
  std::vector<std::uint8_t> file = build_crw(heap.bytes());
  double ms = elapsed_ms([&] {
    ProbeFile pf(file);
    g_probe.probe_file = &pf;
    read_ciff_heap(kHeapStart, heap_length);
    g_probe.probe_file = &probe_.file();
  });
  EXPECT_EQ(g_probe.nesting_depth, 0);
  EXPECT_EQ(g_probe.work_left, 0u);  // the budget, not luck, ended it
  EXPECT_LT(ms, 3000.0);
}

TEST_F(CiffHeap, OffsetsBeyondTheFileReadNothingHarmful) {
  // Directory offset far beyond the end: the count reads as 0xFFFF (> 100).
  ByteWriter heap(true);
  heap.zeros(8).u32(0x7FFFFFF0);
  read_crw(heap.bytes());
  EXPECT_EQ(g_probe.preview_offset, 0);
  EXPECT_STREQ(g_probe.camera_make, "");
}

}  // namespace

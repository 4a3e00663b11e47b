// Maker notes: header recognition, base and byte order, and the entries
// that locate previews, set the orientation or carry shot data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/container_builders.h"

namespace {

constexpr std::size_t kNoteAt = 100;  // file offset of the note in these tests
constexpr std::uint32_t kBase = 40;   // base the Exif reader would pass

void run_note(std::size_t note_at, std::uint32_t base, unsigned upper = 0) {
  probe_seek(static_cast<std::int64_t>(note_at));
  read_maker_note(base, upper);
}

// A plain note (directory at its start) at offset 0, little-endian.
std::vector<std::uint8_t> plain_note(const std::vector<DirEntry>& entries,
                                     const std::vector<std::uint8_t>& tail = {},
                                     std::size_t tail_at = 0, bool little = true) {
  ByteWriter w(little);
  write_dir(w, entries);
  if (!tail.empty()) w.pad_to(tail_at).raw(tail);
  w.pad_to(64);
  return w.bytes();
}

struct HeaderCase {
  const char* name;
  std::vector<std::uint8_t> header;  // bytes from the note start up to the directory
  bool little_dir;                   // byte order of the directory
  std::uint16_t entry_order;         // byte order when the reader is called
  std::uint32_t expected_base;       // absolute base the note's offsets use
};

std::vector<std::uint8_t> h(const std::string& s) { return {s.begin(), s.end()}; }

TEST(MakerNoteHeader, EachHeaderSetsDirectoryStartBaseAndByteOrder) {
  const std::uint16_t II = 0x4949, MM = 0x4D4D;
  std::vector<HeaderCase> cases = {
      {"Nikon big-endian", h(std::string("Nikon\0\x02\x10\0\0MM\0\x2A\0\0\0\x08", 18)), false, II,
       kNoteAt + 10},
      {"Nikon little-endian", h(std::string("Nikon\0\x02\x10\0\0II\x2A\0\x08\0\0\0", 18)), true, MM,
       kNoteAt + 10},
      {"OLYMPUS II", h(std::string("OLYMPUS\0II\x03\0", 12)), true, MM, kNoteAt},
      {"OLYMPUS MM", h(std::string("OLYMPUS\0MM\0\x03", 12)), false, II, kNoteAt},
      {"FUJIFILM", h(std::string("FUJIFILM\x0C\0\0\0", 12)), true, MM, kBase},
      {"SONY", h(std::string("SONY DSC \0\0\0", 12)), true, MM, kBase},
      {"Panasonic", h(std::string("Panasonic\0\0\0", 12)), true, MM, kBase},
      {"OLYMP keeps order", h(std::string("OLYMP\0\x01\0", 8)), false, MM, kBase},
      {"LEICA", h(std::string("LEICA\0\0\0", 8)), true, II, kBase},
      {"Ricoh", h(std::string("Ricoh\0\0\0", 8)), false, MM, kBase},
      {"EPSON", h(std::string("EPSON\0\x01\0", 8)), true, II, kBase},
      {"AOC", h(std::string("AOC\0II", 6)), true, II, kBase},
      {"QVC", h(std::string("QVC\0\0\0", 6)), false, MM, kBase},
      {"no header", {}, true, II, kBase},
      {"no header big-endian", {}, false, MM, kBase},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    ByteWriter w(c.little_dir);
    w.pad_to(kNoteAt).raw(c.header);
    write_dir(w, {{136, 4, 1, 0x500}, {137, 4, 1, 0x1234}});
    w.pad_to(kNoteAt + 64);
    ScopedProbe probe(w.bytes(), c.entry_order);
    run_note(kNoteAt, kBase);
    EXPECT_EQ(g_probe.preview_offset, static_cast<std::int32_t>(c.expected_base + 0x500));
    EXPECT_EQ(g_probe.preview_length, 0x1234u);
    EXPECT_EQ(g_probe.byte_order, c.entry_order);
  }
}

TEST(MakerNoteHeader, IgnoredHeadersReadNothing) {
  for (const char* head : {"KDK", "VER", "IIII", "MMMM", "KC", "MLY"}) {
    SCOPED_TRACE(head);
    ByteWriter w(true);
    w.pad_to(kNoteAt).text(head);
    // A directory right after the letters would be found by a reader that
    // did not recognise the header.
    w.pad_to(kNoteAt + 12);
    write_dir(w, {{136, 4, 1, 0x500}, {137, 4, 1, 0x100}});
    w.pad_to(kNoteAt + 64);
    ScopedProbe probe(w.bytes(), 0x4D4D);
    run_note(kNoteAt, kBase);
    EXPECT_EQ(g_probe.preview_offset, 0);
    EXPECT_EQ(g_probe.preview_length, 0u);
    EXPECT_EQ(g_probe.byte_order, 0x4D4D);
  }
}

TEST(MakerNoteHeader, NikonWithout42RestoresByteOrder) {
  ByteWriter w(true);
  w.pad_to(kNoteAt).text(std::string("Nikon\0\x02\x10\0\0II\x2B\0\x08\0\0\0", 18));
  write_dir(w, {{136, 4, 1, 0x500}});
  w.pad_to(kNoteAt + 64);
  ScopedProbe probe(w.bytes(), 0x4D4D);
  run_note(kNoteAt, kBase);
  EXPECT_EQ(g_probe.preview_offset, 0);
  EXPECT_EQ(g_probe.byte_order, 0x4D4D);
}

TEST(MakerNoteHeader, EntryCountLimitsAndByteOrder) {
  struct Case {
    std::uint16_t count;
    std::uint16_t order_after;
  } cases[] = {
      {1001, 0x4949},  // refused before any entry; the header's order stays
      {0, 0x4D4D},     // nothing to read; the caller's order comes back
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    ByteWriter w(true);
    w.pad_to(kNoteAt).text(std::string("FUJIFILM\x0C\0\0\0", 12)).u16(c.count);
    w.u16(136).u16(4).u32(1).u32(0x500);
    w.pad_to(kNoteAt + 64);
    ScopedProbe probe(w.bytes(), 0x4D4D);
    run_note(kNoteAt, kBase);
    EXPECT_EQ(g_probe.preview_offset, 0);
    EXPECT_EQ(g_probe.byte_order, c.order_after);
  }
}

TEST(MakerNoteEntries, PreviewTagsByTypeAndOrder) {
  struct Case {
    const char* name;
    std::vector<DirEntry> entries;
    std::int32_t offset;
    std::uint32_t length;
  };
  // Out-of-entry values lie at base (7) + the stored offset.
  std::vector<Case> cases = {
      {"256 undefined: the value position", {{256, 7, 500, 0x30}}, 0x37, 500},
      {"129 undefined", {{129, 7, 300, 0x30}}, 0x37, 300},
      {"640 bytes", {{640, 1, 200, 0x30}}, 0x37, 200},
      {"129 of type LONG serves colour only", {{129, 4, 1, 0x30}}, 0, 0},
      {"256 of another type", {{256, 4, 1, 0x30}}, 0, 0},
      {"136 adds the base", {{136, 4, 1, 0x40}, {137, 4, 1, 77}}, 0x40 + 7, 77},
      {"136 of 0 clears an earlier preview", {{256, 7, 500, 0x30}, {136, 4, 1, 0}}, 0, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProbe probe(plain_note(c.entries), 0x4949);
    run_note(0, 7);
    EXPECT_EQ(g_probe.preview_offset, c.offset);
    EXPECT_EQ(g_probe.preview_length, c.length);
  }
}

TEST(MakerNoteEntries, CameraSettingsAndPreviewDirectories) {
  // 8224 (a 0x2000-0x2070 pointer) leads to a directory whose 257/258 give
  // the preview; 45096 leads to one whose 136/137 do.
  struct Case {
    std::uint16_t tag;
    std::uint16_t offset_tag, length_tag;
  } cases[] = {{8224, 257, 258}, {45096, 136, 137}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    ByteWriter sub(true);
    write_dir(sub, {{1, 3, 1, 9, true}, {c.offset_tag, 4, 1, 1000}, {c.length_tag, 4, 1, 5000}});
    const std::uint32_t base = 30;
    ScopedProbe probe(plain_note({{c.tag, 4, 1, 0x40 - base}}, sub.bytes(), 0x40), 0x4949);
    run_note(0, base);
    EXPECT_EQ(g_probe.preview_offset, static_cast<std::int32_t>(base + 1000));
    EXPECT_EQ(g_probe.preview_length, 5000u);
  }
}

TEST(MakerNoteEntries, NestedImageProcessingDirectoryKeepsItsTagsApart) {
  // The nested note's tag 136 reads as 0x20400088, which locates nothing.
  ByteWriter sub(true);
  write_dir(sub, {{136, 4, 1, 0x99}, {137, 4, 1, 0x42}});
  ScopedProbe probe(plain_note({{8256, 4, 1, 0x40}}, sub.bytes(), 0x40), 0x4949);
  run_note(0, 0);
  EXPECT_EQ(g_probe.preview_offset, 0);
  EXPECT_EQ(g_probe.preview_length, 0u);
  EXPECT_EQ(g_probe.nesting_depth, 0);
}

std::vector<std::uint8_t> shot_info(std::uint16_t iso, std::uint16_t aperture, std::uint16_t exposure) {
  ByteWriter w(true);
  w.u32(0).u16(iso).u16(0).u16(aperture).u16(exposure).zeros(50);
  return w.bytes();
}

TEST(MakerNoteEntries, ShotInformationFillsOnlyWhatIsUnset) {
  struct Case {
    const char* name;
    std::uint32_t count;
    std::vector<std::uint8_t> data;
    float preset_iso;
    float iso, f_number, exposure;
  };
  std::vector<Case> cases = {
      {"all codes", 30, shot_info(160, 128, 96), 0, 100.0f, 4.0f, 0.125f},
      {"ISO from Exif kept", 30, shot_info(160, 128, 96), 200, 200.0f, 4.0f, 0.125f},
      {"unknown aperture and exposure", 27, shot_info(0x7FFF, 0x7FFF, 0xFFFF), 0, 0, 0, 0},
      {"count below 27 is another record", 26, shot_info(160, 128, 96), 0, 0, 0, 0},
      {"count above 34 is another record", 35, shot_info(160, 128, 96), 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedProbe probe(plain_note({{4, 3, c.count, 0x40}}, c.data, 0x40), 0x4949);
    g_probe.iso_rating = c.preset_iso;
    run_note(0, 0);
    EXPECT_FLOAT_EQ(g_probe.iso_rating, c.iso);
    EXPECT_FLOAT_EQ(g_probe.f_number, c.f_number);
    EXPECT_FLOAT_EQ(g_probe.exposure_seconds, c.exposure);
  }
}

TEST(MakerNoteEntries, KonicaCameraSettingsOrientation) {
  struct Case {
    const char* make;
    std::uint16_t tag;
    std::uint16_t word;
    std::int32_t code;
  } cases[] = {
      {"KONICA MINOLTA", 4, 76, 6},  {"KONICA MINOLTA", 4, 82, 5}, {"KONICA MINOLTA", 4, 72, 0},
      {"KONICA MINOLTA", 276, 76, 6}, {"KONICA MINOLTA", 4, 99, -1}, {"Minolta", 4, 76, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.make) + " " + std::to_string(c.tag) + " " + std::to_string(c.word));
    ByteWriter data(false);
    data.zeros(c.tag == 4 ? 140 : 160).u16(c.word).zeros(20);
    ScopedProbe probe(plain_note({{c.tag, 7, 200, 0x40}}, data.bytes(), 0x40, false), 0x4D4D);
    set_text(g_probe.camera_make, c.make);
    run_note(0, 0);
    EXPECT_EQ(g_probe.orientation_code, c.code);
  }
}

TEST(MakerNoteEntries, MarkedBlockOrientation) {
  struct Case {
    const char* name;
    std::uint16_t first_word;
    std::size_t pair_at;  // position of 0xBB 0xBB in the 324-byte block
    std::uint8_t value;
    std::int32_t code;
  } cases[] = {
      {"value 0", 0xAAAA, 20, 0, 0},     {"value 1", 0xAAAA, 20, 1, 6},
      {"value 2", 0xAAAA, 20, 2, 5},     {"value 3 is no orientation", 0xAAAA, 20, 3, -1},
      {"too far into the block", 0xAAAA, 60, 1, -1}, {"not a marked block", 0xAAAB, 20, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteWriter data(true);
    data.u16(c.first_word).zeros(324);
    data.bytes()[2 + c.pair_at] = 0xBB;
    data.bytes()[2 + c.pair_at + 1] = 0xBB;
    data.bytes()[2 + c.pair_at + 10] = c.value;
    ScopedProbe probe(plain_note({{13, 7, 326, 0x40}}, data.bytes(), 0x40), 0x4949);
    run_note(0, 0);
    EXPECT_EQ(g_probe.orientation_code, c.code);
  }
}

// Capture-edit data: 22 bytes, then records of tag, 14 bytes, size, data.
std::vector<std::uint8_t> capture_edit(std::uint16_t orientation_value) {
  ByteWriter w(true);
  w.zeros(22);
  w.u32(0x11111111).zeros(14).u32(10).zeros(6);  // a record to skip (size 10)
  w.u32(0x76A43207).zeros(14).u32(6).u16(orientation_value).zeros(20);
  return w.bytes();
}

TEST(MakerNoteEntries, CaptureEditOrientationCodesAndAngles) {
  struct Case {
    std::uint16_t value;
    std::uint32_t count;
    std::int32_t code;
  } cases[] = {
      {3, 100, 3},   {7, 100, 7},   {90, 100, 6}, {180, 100, 3}, {270, 100, 5},
      {45, 100, -1}, {90, 44, -1},  // count 44: no records are walked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " count " + std::to_string(c.count));
    ScopedProbe probe(plain_note({{3585, 7, c.count, 0x40}}, capture_edit(c.value), 0x40, false),
                      0x4D4D);
    run_note(0, 0);
    EXPECT_EQ(g_probe.orientation_code, c.code);
    EXPECT_EQ(g_probe.byte_order, 0x4D4D);
  }
}

TEST(MakerNoteEntries, TextsAndIsoByMakeAndType) {
  ByteWriter tail(true);
  tail.text_fixed("Detail of the model text", 32).text_fixed("Owner Name", 64).text_fixed("Model X", 64);
  // Values: 0x40 detail, 0x60 artist, 0xA0 model.
  std::vector<DirEntry> entries = {
      {2, 3, 2, 0x01900000},  // second SHORT (400) holds the ISO
      {7, 2, 24, 0x40},
      {9, 2, 64, 0x60},
      {21, 2, 64, 0xA0},
  };
  struct Case {
    const char* make;
    std::int32_t raw_supported;
    float iso;
    const char* artist;
    const char* model;
  } cases[] = {
      {"NIKON CORPORATION", 1, 400, "", "Model X"},
      {"Canon", 1, 0, "Owner Name", "Model X"},
      {"Canon Inc.", 0, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.make);
    ScopedProbe probe(plain_note(entries, tail.bytes(), 0x40), 0x4949);
    set_text(g_probe.camera_make, c.make);
    g_probe.raw_supported = c.raw_supported;
    run_note(0, 0);
    EXPECT_FLOAT_EQ(g_probe.iso_rating, c.iso);
    EXPECT_STREQ(g_probe.model_detail, "Detail of the model text");
    EXPECT_STREQ(g_probe.artist_name, c.artist);
    EXPECT_STREQ(g_probe.camera_model, c.model);
  }
}

TEST(MakerNoteEntries, ShortModelDetailIsNotRead) {
  ByteWriter tail(true);
  tail.text_fixed("short", 32);
  ScopedProbe probe(plain_note({{7, 2, 20, 0x40}}, tail.bytes(), 0x40), 0x4949);
  run_note(0, 0);
  EXPECT_STREQ(g_probe.model_detail, "");
}

TEST(MakerNoteEntries, NikonPreviewDirectoryJoinsTheTiffDirectories) {
  ByteWriter sub(true);
  write_dir(sub, {{513, 4, 1, 0x200}, {514, 4, 1, 0x1111}});
  sub.u32(0);
  ScopedProbe probe(plain_note({{17, 4, 1, 0x40}}, sub.bytes(), 0x40), 0x4949);
  set_text(g_probe.camera_make, "NIKON CORPORATION");
  run_note(0, 0);
  ASSERT_EQ(g_probe.tiff_dir_count, 1u);
  EXPECT_EQ(g_probe.tiff_dirs[0].data_offset, 0x200);
  EXPECT_EQ(g_probe.tiff_dirs[0].byte_count, 0x1111);
}

TEST(MakerNoteEntries, NoteThatContainsItselfFinishesQuickly) {
  // Fifty image-processing pointers back to the note itself, and a
  // camera-settings pointer likewise: every one is read, none loops.
  std::vector<DirEntry> entries(50, DirEntry{8256, 4, 1, 0});
  entries.push_back({8224, 4, 1, 0});
  std::vector<std::uint8_t> bytes = plain_note(entries);
  double ms = elapsed_ms([&] {
    ScopedProbe probe(bytes, 0x4949);
    run_note(0, 0);
    EXPECT_EQ(g_probe.nesting_depth, 0);
  });
  EXPECT_LT(ms, 3000.0);
}

}  // namespace

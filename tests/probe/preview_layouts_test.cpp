// The preview a user wants, one row per camera layout: built files of each
// layout through the whole probe and extraction. Checked for each row: the
// JPEG written (byte for byte, no Exif inserted), that the candidate check
// agrees, that the report lists every embedded JPEG at its place in the
// file with a sound, non-negative offset, and, where exiftool is installed,
// that every JPEG exiftool extracts from the built file is in that list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "support/byte_writer.h"
#include "support/probe_fixture.h"
#include "tests/probe/container_builders.h"
#include "tests/probe/core_builders.h"

namespace fs = std::filesystem;

namespace {

using core_test::Bytes;
using core_test::make_jpeg;
using core_test::Tiff;

const Bytes kBig = make_jpeg(6016, 4000, 3, core_test::JpegApp::kNone, {}, 3000, 0x21);
const Bytes kPhone = make_jpeg(510, 382, 3, core_test::JpegApp::kNone, {}, 900, 0x31);
const Bytes kPentaxPreview = make_jpeg(720, 480, 3, core_test::JpegApp::kNone, {}, 1200, 0x42);
const Bytes kThumb = make_jpeg(160, 120, 3, core_test::JpegApp::kNone, {}, 200, 0x63);

// A built file: bytes from offset 0, and optionally one more piece placed far
// out (the file is sparse in between).
struct Built {
  Bytes bytes;
  std::uint64_t far_at = 0;
  Bytes far;
};

Bytes filler(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + seed) % 0xF0);
  return b;
}

std::uint32_t value_of(Tiff& t, std::size_t field) {
  const Bytes& b = t.bytes();
  return t.little() ? std::uint32_t{b[field]} | b[field + 1] << 8 | b[field + 2] << 16 | std::uint32_t{b[field + 3]} << 24
                    : std::uint32_t{b[field]} << 24 | b[field + 1] << 16 | b[field + 2] << 8 | b[field + 3];
}

void put_be32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}
void put_le32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A phone DNG: IFD0 is the JPEG preview (NewSubfileType 1), as large as
// the tiled CFA raw image of its SubIFD (NewSubfileType 0).
Built phone_dng() {
  Tiff t;
  Tiff::Dir ifd0 = t.dir({t.long_(254, 1), t.long_(256, 510), t.long_(257, 382),
                          t.raw(258, 3, 3, {8, 0, 8, 0, 8, 0}), t.short_(259, 7), t.short_(262, 6),
                          t.ascii(271, "Google"), t.ascii(272, "Pixel 7"), t.long_(273, 0), t.short_(274, 1),
                          t.short_(277, 3), t.long_(278, 382), t.long_(279, static_cast<std::uint32_t>(kPhone.size())),
                          t.long_(330, 0), t.raw(50706, 1, 4, {1, 6, 0, 0}), t.ascii(50708, "Google Pixel 7")});
  const Bytes tile = filler(4096, 7);
  Tiff::Dir sub = t.dir({t.long_(254, 0), t.long_(256, 510), t.long_(257, 382), t.short_(258, 16),
                         t.short_(259, 1), t.short_(262, 32803), t.short_(277, 1), t.long_(322, 512),
                         t.long_(323, 384), t.long_(324, 0), t.long_(325, static_cast<std::uint32_t>(tile.size())),
                         t.raw(33421, 3, 2, {2, 0, 2, 0}), t.raw(33422, 1, 4, {0, 1, 1, 2})});
  t.patch32(ifd0.value_field[13], static_cast<std::uint32_t>(sub.at));
  t.patch32(ifd0.value_field[8], t.append(kPhone));
  t.patch32(sub.value_field[9], t.append(tile));
  return {t.bytes(), 0, {}};
}

// A CR2 cut inside its IFD0 preview (stored last), its IFD1 thumbnail whole.
Built cut_cr2() {
  Tiff t(true, 16);
  t.patch16(8, 0x5243);  // "CR"
  t.patch16(10, 0x0002);  // version 2.0
  Tiff::Dir ifd0 = t.dir({t.short_(256, 6016), t.short_(257, 4000), t.raw(258, 3, 3, {8, 0, 8, 0, 8, 0}),
                          t.short_(259, 6), t.ascii(271, "Canon"), t.ascii(272, "Canon EOS 5D Mark III"),
                          t.long_(273, 0), t.short_(274, 1), t.long_(279, static_cast<std::uint32_t>(kBig.size()))});
  Tiff::Dir ifd1 = t.dir({t.short_(259, 6), t.long_(513, 0), t.long_(514, static_cast<std::uint32_t>(kThumb.size()))});
  const Bytes raw = filler(8192, 3);
  Tiff::Dir ifd2 = t.dir({t.short_(256, 5760), t.short_(257, 3840), t.short_(258, 14), t.short_(259, 6),
                          t.long_(273, 0), t.short_(277, 1), t.long_(279, static_cast<std::uint32_t>(raw.size()))});
  t.patch32(ifd0.next_field, static_cast<std::uint32_t>(ifd1.at));
  t.patch32(ifd1.next_field, static_cast<std::uint32_t>(ifd2.at));
  t.patch32(12, static_cast<std::uint32_t>(ifd2.at));
  t.patch32(ifd1.value_field[1], t.append(kThumb));
  t.patch32(ifd2.value_field[4], t.append(raw));
  t.patch32(ifd0.value_field[6], t.append(kBig));
  Bytes b = t.bytes();
  b.resize(b.size() - 500);
  return {b, 0, {}};
}

// A PowerShot CRW that carries only the thumbnail record 0x2008.
Built thumbnail_crw() {
  const std::string names("Canon\0Canon PowerShot A5\0", 25);
  return {build_crw(build_ciff_heap({{0x080A, text_bytes(names)}, {0x2008, kThumb}})), 0, {}};
}

// A PEF: IFD0 raw with the Exif maker note, IFD1 the 160x120 thumbnail,
// IFD2 the JpgFromRaw (stored last, cut when `cut`). The maker note is the
// "PENTAX \0" kind (big-endian, offsets from the note's first byte) or the
// older "AOC\0" kind (offsets from the TIFF header).
Built pef(bool modern_note, bool cut) {
  Tiff t;
  const Bytes raw = filler(8192, 5);
  Tiff::Dir ifd0 = t.dir({t.long_(256, 6080), t.long_(257, 4064), t.short_(258, 14), t.short_(259, 65535),
                          t.short_(262, 32803), t.ascii(271, "PENTAX"), t.ascii(272, "PENTAX K-3 II"),
                          t.long_(273, 0), t.short_(274, 1), t.short_(277, 1),
                          t.long_(279, static_cast<std::uint32_t>(raw.size())), t.long_(34665, 0)});
  Tiff::Dir ifd1 = t.dir({t.short_(259, 6), t.long_(513, 0), t.long_(514, static_cast<std::uint32_t>(kThumb.size()))});
  Tiff::Dir ifd2 = t.dir({t.short_(259, 6), t.long_(513, 0), t.long_(514, static_cast<std::uint32_t>(kBig.size()))});
  t.patch32(ifd0.next_field, static_cast<std::uint32_t>(ifd1.at));
  t.patch32(ifd1.next_field, static_cast<std::uint32_t>(ifd2.at));

  // The note: its name, its byte order, then a three-entry directory.
  ByteWriter n(!modern_note);
  if (modern_note) {
    n.text("PENTAX ").u8(0).text("MM");
  } else {
    n.text("AOC").u8(0).text("II");
  }
  n.u16(3);
  n.u16(2).u16(3).u32(2).u16(720).u16(480);
  n.u16(3).u16(4).u32(1).u32(static_cast<std::uint32_t>(kPentaxPreview.size()));
  const std::size_t start_field = n.size() + 8;
  n.u16(4).u16(4).u32(1).u32(0);
  n.u32(0);
  Bytes note = n.bytes();
  Tiff::Dir exif = t.dir({t.raw(37500, 7, static_cast<std::uint32_t>(note.size()), note)});
  t.patch32(ifd0.value_field[11], static_cast<std::uint32_t>(exif.at));
  const std::uint32_t note_at = value_of(t, exif.value_field[0]);

  t.patch32(ifd1.value_field[1], t.append(kThumb));
  t.patch32(ifd0.value_field[7], t.append(raw));
  const std::uint32_t preview_at = t.append(kPentaxPreview);
  if (modern_note) {
    put_be32(t.bytes(), note_at + start_field, preview_at - note_at);
  } else {
    put_le32(t.bytes(), note_at + start_field, preview_at);
  }
  t.patch32(ifd2.value_field[1], t.append(kBig));
  Bytes b = t.bytes();
  if (cut) b.resize(b.size() - 500);
  return {b, 0, {}};
}

// A TIFF whose IFD1 JPEG lies 2.5 GiB into the file (a sparse file).
constexpr std::uint64_t kFarOffset = 0xA0000000u;
Built far_preview() {
  Tiff t;
  const Bytes raw = filler(4096, 9);
  Tiff::Dir ifd0 = t.dir({t.long_(256, 6000), t.long_(257, 4000), t.short_(258, 14), t.short_(259, 1),
                          t.ascii(271, "NIKON CORPORATION"), t.ascii(272, "NIKON D850"), t.long_(273, 0),
                          t.short_(277, 1), t.long_(279, static_cast<std::uint32_t>(raw.size()))});
  Tiff::Dir ifd1 = t.dir({t.short_(259, 6), t.long_(513, static_cast<std::uint32_t>(kFarOffset)),
                          t.long_(514, static_cast<std::uint32_t>(kPhone.size()))});
  t.patch32(ifd0.next_field, static_cast<std::uint32_t>(ifd1.at));
  t.patch32(ifd0.value_field[6], t.append(raw));
  return {t.bytes(), kFarOffset, kPhone};
}

struct Row {
  const char* name;
  const char* file_name;
  std::function<Built()> build;
  const Bytes* written;             // the JPEG extraction must write
  unsigned width;                   // its width, as the report gives it
  std::vector<const Bytes*> listed;  // whole JPEGs the report must list
};

const Row kRows[] = {
    {"phone DNG, IFD0 preview as large as the raw image", "phone.dng", phone_dng, &kPhone, 510, {&kPhone}},
    {"CR2 cut inside its IFD0 preview", "cut.cr2", cut_cr2, &kThumb, 160, {&kThumb}},
    {"CRW with only the thumbnail record", "thumb.crw", thumbnail_crw, &kThumb, 160, {&kThumb}},
    {"PEF, PENTAX note, JpgFromRaw cut", "cut.pef", [] { return pef(true, true); }, &kPentaxPreview, 720,
     {&kPentaxPreview, &kThumb}},
    {"PEF, AOC note, all whole", "aoc.pef", [] { return pef(false, false); }, &kBig, 6016,
     {&kBig, &kPentaxPreview, &kThumb}},
    {"preview 2.5 GiB into the file", "far.nef", far_preview, &kPhone, 510, {&kPhone}},
};

std::string temp_path(const char* name) {
  return (fs::path(testing::TempDir()) / ("veltrano_layout_" + std::to_string(VLTR_TEST_PID) + "_" + name)).string();
}

bool write_built(const std::string& path, const Built& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.bytes.data()), static_cast<std::streamsize>(b.bytes.size()));
  if (!b.far.empty()) {
    out.seekp(static_cast<std::streamoff>(b.far_at));
    out.write(reinterpret_cast<const char*>(b.far.data()), static_cast<std::streamsize>(b.far.size()));
  }
  return static_cast<bool>(out);
}

Bytes read_slice(const std::string& path, std::int64_t offset, std::size_t length) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(offset);
  Bytes b(length);
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(length));
  b.resize(static_cast<std::size_t>(in.gcount()));
  return b;
}

bool have_exiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

// Every embedded JPEG exiftool extracts, each into a file of its own.
std::vector<Bytes> exiftool_jpegs(const std::string& file, const fs::path& work) {
  fs::remove_all(work);
  fs::create_directories(work);
  const std::string command = "exiftool -q -q -a -b -W '" + (work / "%t%c.%s").string() +
                              "' -PreviewImage -JpgFromRaw -ThumbnailImage -OtherImage '" + file + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<Bytes> jpegs;
  for (const auto& e : fs::directory_iterator(work)) {
    Bytes b = read_file_bytes(e.path().string());
    if (b.size() > 3 && b[0] == 0xFF && b[1] == 0xD8) jpegs.push_back(std::move(b));
  }
  return jpegs;
}

TEST(PreviewLayouts, WriteTheLargestWholeJpegAndListEveryOne) {
  const bool exiftool = have_exiftool();
  if (!exiftool) std::printf("exiftool is not installed: its checks are skipped\n");
  const fs::path work = fs::path(testing::TempDir()) / ("veltrano_layout_exiftool_" + std::to_string(VLTR_TEST_PID));
  // One row's checks; a failed ASSERT ends the row, not the table.
  auto check = [&](const Row& row) {
    const std::string path = temp_path(row.file_name);
    ASSERT_TRUE(write_built(path, row.build()));
    const NativePath native = fs::path(path).native();

    EXPECT_EQ(probe_has_jpeg_preview(native), 1);
    const core_test::Extracted got = core_test::extract(native, kVeltranoSoftware, ExifMode::none);
    ASSERT_EQ(got.ok, 1);
    EXPECT_TRUE(got.data == *row.written) << "wrote " << got.data.size() << " bytes, want " << row.written->size();

    ProbeReport report;
    ASSERT_TRUE(probe_report(native, report));
    EXPECT_TRUE(report.has_jpeg_preview);
    ASSERT_GT(report.preview_offset, 0);
    EXPECT_EQ(read_slice(path, report.preview_offset, report.preview_length), *row.written);
    EXPECT_EQ(report.preview_width, row.width);
    // Every whole JPEG the report lists is one of the file's, at its place.
    std::vector<Bytes> listed;
    for (const EmbeddedImageReport& image : report.images) {
      ASSERT_GT(image.offset, 0) << image.where;
      if (!image.whole || !image.jpeg) continue;
      listed.push_back(read_slice(path, image.offset, image.length));
      EXPECT_EQ(image.chosen, image.offset == report.preview_offset) << image.where;
    }
    for (const Bytes* want : row.listed)
      EXPECT_NE(std::find(listed.begin(), listed.end(), *want), listed.end()) << want->size() << "-byte JPEG not listed";

    if (exiftool) {
      const std::vector<Bytes> theirs = exiftool_jpegs(path, work);
      EXPECT_FALSE(theirs.empty());
      for (const Bytes& jpeg : theirs)
        EXPECT_NE(std::find(listed.begin(), listed.end(), jpeg), listed.end())
            << "exiftool extracts a " << jpeg.size() << "-byte JPEG the report does not list";
      for (const Bytes* want : row.listed)
        EXPECT_NE(std::find(theirs.begin(), theirs.end(), *want), theirs.end())
            << "exiftool does not extract the " << want->size() << "-byte JPEG";
    }
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    check(row);
    fs::remove(temp_path(row.file_name));
  }
  fs::remove_all(work);
}

}  // namespace

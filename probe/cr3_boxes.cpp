// Canon CR3 files: an ISO base-media box tree (the family of MP4) whose
// "ftyp" box names the major brand "crx ". Three JPEGs can be found in it:
//   - the full-size JPEG, the one sample of the first track ("trak"): its
//     sample table gives the pixel size (the "CRAW" sample entry of "stsd"),
//     the length ("stsz") and the 64-bit file offset ("co64");
//   - PRVW, a preview of about 1620x1080, in a top-level "uuid" box;
//   - THMB, a 160x120 thumbnail, in Canon's "uuid" box inside "moov".
// The largest complete one becomes the preview, in that order. Canon's
// "uuid" box also holds CMT1 (IFD0), CMT2 (the Exif directory) and CMT4 (the
// GPS directory), each a TIFF structure of its own whose offsets count from
// the start of its box's payload; they go through the TIFF, Exif and GPS
// directory readers.
//
// Every box is checked against its parent before it is used: a box that
// claims more than its parent holds, a size of 0 anywhere but at the top
// level, or a 64-bit size too small for its own header ends the walk of
// that parent. Box counts and nesting are bounded (probe_limits.h).
#include <cstdint>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

constexpr std::uint8_t kCanonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                         0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
constexpr std::uint8_t kPreviewUuid[16] = {0xea, 0xf4, 0x2b, 0x5e, 0x1c, 0x98, 0x4b, 0x88,
                                           0xb9, 0xfb, 0xb7, 0xdc, 0x40, 0x6e, 0x4d, 0x16};

// The preview "uuid" box holds eight bytes of its own before its PRVW box.
constexpr std::int64_t kPreviewUuidHeader = 8;

// Offsets in the CRAW sample entry (from the entry's first byte) of its
// 16-bit width and height, as in every visual sample entry.
constexpr std::int64_t kSampleEntryWidth = 32;

struct Box {
  char type[4];
  std::uint8_t uuid[16];  // for type "uuid"
  std::int64_t start;     // first byte of the header
  std::int64_t payload;   // first byte after the header (and the UUID)
  std::int64_t end;       // one past the last byte
};

// One JPEG the reader found: where, how long, and its pixel size when the
// container states it. `fits` is false when it is longer than its box.
struct Cr3Image {
  std::int64_t offset = 0;
  std::uint32_t length = 0;
  std::uint16_t width = 0, height = 0;
  bool found = false, fits = true;
};

// What one walk of the file collects.
struct Cr3Scan {
  unsigned boxes_left = probe_limits::kMaxCr3Boxes;
  unsigned tracks = 0;
  Cr3Image full_size, preview, thumbnail;
  bool have_length = false, have_offset = false;
};

// Big-endian integers, whatever the TIFF readers left in byte_order.
std::uint64_t read_be(int bytes) {
  std::uint8_t b[8] = {};
  probe_read(b, static_cast<std::size_t>(bytes));
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | b[i];
  return v;
}

std::uint64_t read_be_at(std::int64_t at, int bytes) {
  probe_seek(at);
  return read_be(bytes);
}

bool type_is(const Box& box, const char* type) { return std::memcmp(box.type, type, 4) == 0; }

// Reads the header of the box at `at` whose parent ends at `parent_end`.
// False when the header does not fit or its size lies.
bool read_box_header(std::int64_t at, std::int64_t parent_end, bool top_level, Box& box) {
  if (parent_end - at < 8) return false;
  probe_seek(at);
  const std::uint64_t size32 = read_be(4);
  if (probe_read(box.type, 4) != 4) return false;
  std::int64_t header = 8;
  std::uint64_t size = size32;
  if (size32 == 1) {
    // A 64-bit size follows the type.
    if (parent_end - at < 16) return false;
    size = read_be(8);
    header = 16;
  } else if (size32 == 0) {
    // "To the end of the file": only the last box of the file may say so.
    if (!top_level) return false;
    size = static_cast<std::uint64_t>(parent_end - at);
  }
  if (size < static_cast<std::uint64_t>(header) || size > static_cast<std::uint64_t>(parent_end - at))
    return false;
  box.start = at;
  box.end = at + static_cast<std::int64_t>(size);
  if (type_is(box, "uuid")) {
    if (box.end - at < header + 16 || probe_read(box.uuid, 16) != 16) return false;
    header += 16;
  } else {
    std::memset(box.uuid, 0, sizeof box.uuid);
  }
  box.payload = at + header;
  return true;
}

using BoxVisitor = void (*)(const Box& box, int depth, Cr3Scan& scan);

// Visits the boxes that lie one after another from `from` to `end`, at the
// given nesting depth. A box that lies ends the walk.
void walk_boxes(std::int64_t from, std::int64_t end, int depth, Cr3Scan& scan, BoxVisitor visit) {
  if (depth >= probe_limits::kMaxCr3BoxDepth) return;
  for (std::int64_t at = from; at < end;) {
    if (scan.boxes_left == 0 || !take_work()) return;
    --scan.boxes_left;
    Box box;
    if (!read_box_header(at, end, depth == 0, box)) return;
    visit(box, depth, scan);
    at = box.end;
  }
}

// CMT1, CMT2 and CMT4: a TIFF header (byte order, 42, offset of the one
// directory) at the start of the payload, which is also the base of every
// offset inside. `read_dir` reads the directory at the current position.
void read_cmt_tiff(const Box& box, void (*read_dir)(std::uint32_t base)) {
  if (box.payload > UINT32_MAX) return;  // directory bases are 32-bit
  const auto base = static_cast<std::uint32_t>(box.payload);
  const std::uint16_t saved = g_probe.byte_order;
  probe_seek(base);
  g_probe.byte_order = read_u16();
  if ((g_probe.byte_order == 0x4949 || g_probe.byte_order == 0x4D4D) && read_u16() == 42) {
    probe_seek(static_cast<std::int64_t>(base) + read_u32());
    read_dir(base);
  }
  g_probe.byte_order = saved;
}

void read_cr3_ifd0(std::uint32_t base) {
  const std::uint32_t first = g_probe.tiff_dir_count;
  read_tiff_dir(base);
  // The directory's orientation, as a TIFF file's raw directory gives it.
  if (g_probe.tiff_dir_count > first && g_probe.tiff_dirs[first].orientation)
    g_probe.tiff_orientation = g_probe.tiff_dirs[first].orientation;
}

// THMB and PRVW: version and flags, then 16-bit width and height and the
// 32-bit JPEG length at fixed places, and the JPEG from byte 16 of the
// payload. The two layouts differ in where the three fields sit.
struct SmallImageLayout {
  std::int64_t width_at, height_at, length_at, jpeg_at;
};
constexpr SmallImageLayout kThumbnailLayout = {4, 6, 8, 16};
constexpr SmallImageLayout kPreviewLayout = {6, 8, 12, 16};

void read_small_image(const Box& box, const SmallImageLayout& layout, Cr3Image& image) {
  if (box.end - box.payload < layout.jpeg_at) return;
  image.width = static_cast<std::uint16_t>(read_be_at(box.payload + layout.width_at, 2));
  image.height = static_cast<std::uint16_t>(read_be_at(box.payload + layout.height_at, 2));
  image.length = static_cast<std::uint32_t>(read_be_at(box.payload + layout.length_at, 4));
  image.offset = box.payload + layout.jpeg_at;
  image.found = true;
  // A JPEG longer than its box is not whole; it is listed, never chosen.
  image.fits = image.length <= box.end - image.offset;
}

void visit_canon_uuid(const Box& box, int, Cr3Scan& scan) {
  if (type_is(box, "CMT1")) {
    read_cmt_tiff(box, read_cr3_ifd0);
  } else if (type_is(box, "CMT2")) {
    read_cmt_tiff(box, read_exif_dir);
  } else if (type_is(box, "CMT4")) {
    read_cmt_tiff(box, read_gps_dir);
  } else if (type_is(box, "THMB")) {
    read_small_image(box, kThumbnailLayout, scan.thumbnail);
  }
  // CNCV (a version text), CCTP, CTBO and CMT3 (the maker note) hold
  // nothing the preview or the inserted Exif block needs.
}

void visit_preview_uuid(const Box& box, int, Cr3Scan& scan) {
  if (type_is(box, "PRVW")) read_small_image(box, kPreviewLayout, scan.preview);
}

// The sample table of the first track: one sample, the full-size JPEG.
void read_sample_table_entry(const Box& box, Cr3Scan& scan) {
  Cr3Image& image = scan.full_size;
  if (type_is(box, "stsd")) {
    // Version and flags, entry count, then the first sample entry.
    Box entry;
    if (read_box_header(box.payload + 8, box.end, false, entry) && type_is(entry, "CRAW") &&
        entry.end - entry.start >= kSampleEntryWidth + 4) {
      image.width = static_cast<std::uint16_t>(read_be_at(entry.start + kSampleEntryWidth, 2));
      image.height = static_cast<std::uint16_t>(read_be_at(entry.start + kSampleEntryWidth + 2, 2));
    }
  } else if (type_is(box, "stsz") && box.end - box.payload >= 12) {
    // Version and flags, the size of every sample (0: a table follows),
    // the sample count, then the table.
    std::uint64_t size = read_be_at(box.payload + 4, 4);
    const std::uint64_t count = read_be(4);
    if (size == 0 && count > 0 && box.end - box.payload >= 16) size = read_be(4);
    if (size != 0) {
      image.length = static_cast<std::uint32_t>(size);
      scan.have_length = true;
    }
  } else if (type_is(box, "co64") && box.end - box.payload >= 16) {
    // Version and flags, entry count, then 64-bit chunk offsets.
    if (read_be_at(box.payload + 4, 4) > 0) {
      const std::uint64_t offset = read_be(8);
      if (offset <= INT64_MAX) {
        image.offset = static_cast<std::int64_t>(offset);
        scan.have_offset = true;
      }
    }
  }
}

void visit_track(const Box& box, int depth, Cr3Scan& scan) {
  if (type_is(box, "mdia") || type_is(box, "minf") || type_is(box, "stbl")) {
    walk_boxes(box.payload, box.end, depth + 1, scan, visit_track);
  } else {
    read_sample_table_entry(box, scan);
  }
}

void visit_movie(const Box& box, int depth, Cr3Scan& scan) {
  if (type_is(box, "uuid") && std::memcmp(box.uuid, kCanonUuid, 16) == 0) {
    walk_boxes(box.payload, box.end, depth + 1, scan, visit_canon_uuid);
  } else if (type_is(box, "trak") && scan.tracks++ == 0) {
    // Only the first track holds the full-size JPEG; the others hold
    // sensor data and timed metadata.
    walk_boxes(box.payload, box.end, depth + 1, scan, visit_track);
  }
}

void visit_top(const Box& box, int depth, Cr3Scan& scan) {
  if (type_is(box, "moov")) {
    walk_boxes(box.payload, box.end, depth + 1, scan, visit_movie);
  } else if (type_is(box, "uuid") && std::memcmp(box.uuid, kPreviewUuid, 16) == 0) {
    walk_boxes(box.payload + kPreviewUuidHeader, box.end, depth + 1, scan, visit_preview_uuid);
  }
}


}  // namespace

bool is_cr3_head(const std::uint8_t* head) {
  return std::memcmp(head + 4, "ftypcrx ", 8) == 0;
}

void read_cr3_file() {
  Cr3Scan scan;
  walk_boxes(0, probe_file_size(), 0, scan, visit_top);
  scan.full_size.found = scan.have_length && scan.have_offset;

  struct Candidate {
    const Cr3Image& image;
    const char* where;
  };
  const Candidate candidates[] = {
      {scan.full_size, "CR3 first track"}, {scan.preview, "CR3 PRVW"}, {scan.thumbnail, "CR3 THMB"}};
  for (const Candidate& c : candidates) {
    if (c.image.found) note_embedded_image(c.where, c.image.offset, c.image.length, c.image.width, c.image.height);
  }
  // The first whole JPEG.
  for (const Candidate& c : candidates) {
    const Cr3Image* image = &c.image;
    if (!image->found || !image->fits ||
        !is_whole_jpeg_at(image->offset, image->length))
      continue;
    g_probe.preview_offset = image->offset;
    g_probe.preview_length = image->length;
    g_probe.preview_width = image->width;
    g_probe.preview_height = image->height;
    g_probe.preview_kind = PreviewKind::jpeg_thumb;
    break;
  }
}

#include "probe/exif_full.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "probe/exif_block.h"
#include "probe/probe_input.h"

namespace {

using probe_limits::kMaxExifTiffBytes;
using probe_limits::kMaxTiffDirEntries;

enum : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

// Element size of the twelve standard field types; 0 for every other type
// (IFD pointers among them), which is never copied: its value would point
// into the RAW.
unsigned element_size(unsigned type) {
  static constexpr unsigned kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type < 13 ? kSizes[type] : 0;
}

// The unit whose bytes turn round when the byte order changes: rationals
// are two 32-bit numbers.
unsigned swap_unit(unsigned type) {
  switch (type) {
    case 3: case 8: return 2;
    case 4: case 5: case 9: case 10: case 11: return 4;
    case 12: return 8;
    default: return 1;
  }
}

// IFD0 tags that describe the picture rather than the RAW's image data.
bool is_descriptive_ifd0_tag(unsigned tag) {
  switch (tag) {
    case 270: case 271: case 272: case 282: case 283: case 296: case 306: case 315:
    case 18246: case 18249: case 33432: case 36867:
    case 40091: case 40092: case 40093: case 40094: case 40095:
      return true;
    default:
      return false;
  }
}

// In a Panasonic RW2 the IFD0 tags below 0x0120 are Panasonic's own (0x011a
// is no XResolution there), except Make and Model: none of the others is
// copied under its TIFF name.
bool is_descriptive_rw2_ifd0_tag(unsigned tag) {
  return (tag >= 0x0120 || tag == 271 || tag == 272) && is_descriptive_ifd0_tag(tag);
}

// Tags whose values are offsets into the image layer of the file they come
// from (strips, tiles, a JPEG thumbnail) or directory pointers: copied as
// stored they would point outside the new structure.
bool is_offset_tag(unsigned tag) {
  switch (tag) {
    case 273: case 279: case 324: case 325: case 513: case 514:
    case 330: case 34665: case 34853: case 40965:
      return true;
    default:
      return false;
  }
}

// Exif tags not copied: the maker note (its offsets break when moved), the
// filler and offset schema that only serve it, the pixel size (the preview
// has its own), and offsets (pointers are written anew).
bool is_copied_exif_tag(unsigned tag) {
  switch (tag) {
    case 37500: case 40962: case 40963: case 0xEA1C: case 0xEA1D:
      return false;
    default:
      return !is_offset_tag(tag);
  }
}

// GPS and Interop tags: all but offsets, which mean nothing there and whose
// values would point at bytes of the RAW.
bool is_copied_plain_tag(unsigned tag) { return !is_offset_tag(tag); }

enum Dir { kIfd0, kExif, kGps, kInterop, kDirCount };

// Directory entries pointing to the sub-directories: (directory, tag, target).
struct Pointer {
  Dir in;
  std::uint16_t tag;
  Dir to;
};
constexpr Pointer kPointers[] = {{kIfd0, 34665, kExif}, {kIfd0, 34853, kGps}, {kExif, 40965, kInterop}};

struct Field {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::uint32_t at;    // value bytes in the pool, already in the output's byte order
  std::uint32_t size;
};

struct FieldList {
  Field f[kMaxTiffDirEntries];
  unsigned n = 0;

  bool has(std::uint16_t tag) const {
    for (unsigned i = 0; i < n; ++i)
      if (f[i].tag == tag) return true;
    return false;
  }
};

class ExifBuilder {
 public:
  explicit ExifBuilder(bool little) : little_(little) {}

  // Adds a field whose value bytes (in the output's order) are copied in;
  // false when the directory or the pool is full or the tag is there.
  bool add(Dir dir, std::uint16_t tag, std::uint16_t type, std::uint32_t count, const void* value,
           std::size_t size) {
    std::uint8_t* dst = reserve(dir, tag, size);
    if (!dst) return false;
    std::memcpy(dst, value, size);
    commit(dir, tag, type, count, size);
    return true;
  }
  void add_short(Dir dir, std::uint16_t tag, std::uint16_t v) {
    std::uint8_t b[2];
    put16(b, v);
    add(dir, tag, kShort, 1, b, 2);
  }
  void add_long(Dir dir, std::uint16_t tag, std::uint32_t v) {
    std::uint8_t b[4];
    put32(b, v);
    add(dir, tag, kLong, 1, b, 4);
  }
  void add_text(Dir dir, std::uint16_t tag, const char* text, std::size_t n) {
    std::uint8_t b[520] = {};
    n = std::min(n, sizeof b - 1);
    std::memcpy(b, text, n);
    add(dir, tag, kAscii, static_cast<std::uint32_t>(n + 1), b, n + 1);
  }
  template <std::size_t N>
  void add_text_field(Dir dir, std::uint16_t tag, const char (&text)[N]) {
    if (text_length(text)) add_text(dir, tag, text, text_length(text));
  }
  // Rationals from 32-bit words as they are held in memory.
  void add_rationals(Dir dir, std::uint16_t tag, const std::uint32_t* words, std::uint32_t count) {
    std::uint8_t b[8 * 3];
    for (std::uint32_t i = 0; i < 2 * count; ++i) put32(b + 4 * i, words[i]);
    add(dir, tag, kRational, count, b, 8 * count);
  }
  void add_time(Dir dir, std::uint16_t tag) {
    if (g_probe.capture_time == 0) return;
    char text[20];
    format_exif_time(g_probe.capture_time, text);
    add(dir, tag, kAscii, 20, text, 20);
  }

  // Copies the recorded directory's entries that `keep` accepts, their
  // values as stored (type and count), turned into the output's byte order.
  // Entries whose value the file does not hold whole are left out, and so
  // are those whose value lies at or beyond `limit` (the end of the
  // structure the directory belongs to, when it is known).
  void copy(const RawDirectoryRef& ref, Dir dir, bool (*keep)(unsigned tag), std::int64_t limit = INT64_MAX) {
    if (ref.offset <= 0) return;
    limit = std::min(limit, probe_file_size());
    const std::uint16_t saved = g_probe.byte_order;
    g_probe.byte_order = ref.byte_order;
    const bool source_little = ref.byte_order == 0x4949;
    std::uint8_t head[2];
    probe_seek(ref.offset);
    unsigned n = probe_read(head, 2) == 2 ? decode_u16(head) : 0;
    if (n > kMaxTiffDirEntries) n = 0;
    // The entries in one read: the values lie elsewhere (often at the end
    // of the file), and going back to the directory for each entry would
    // load its read window again every time.
    std::uint8_t entries[12 * kMaxTiffDirEntries];
    n = static_cast<unsigned>(probe_read(entries, 12 * std::size_t{n}) / 12);
    for (unsigned i = 0; i < n; ++i) {
      const std::uint8_t* e = entries + 12 * i;
      const std::uint16_t tag = decode_u16(e);
      const std::uint16_t type = decode_u16(e + 2);
      const std::uint32_t count = decode_u32(e + 4);
      const std::uint64_t size = std::uint64_t{count} * element_size(type);
      if (size == 0 || size > kMaxExifTiffBytes || !keep(tag)) continue;
      std::uint8_t* dst = reserve(dir, tag, static_cast<std::size_t>(size));
      if (!dst) continue;
      if (size <= 4) {
        std::memcpy(dst, e + 8, static_cast<std::size_t>(size));
      } else {
        const std::int64_t at = static_cast<std::int64_t>(ref.base) + decode_u32(e + 8);
        if (at + static_cast<std::int64_t>(size) > limit) continue;
        probe_seek(at);
        if (probe_read(dst, static_cast<std::size_t>(size)) != size) continue;
      }
      if (source_little != little_) turn_round(dst, static_cast<std::size_t>(size), swap_unit(type));
      commit(dir, tag, type, count, static_cast<std::size_t>(size));
    }
    g_probe.byte_order = saved;
  }

  bool empty(Dir dir) const { return lists_[dir].n == 0; }

  // Lays the directories out and writes the structure; drops the largest
  // values until it fits. Returns its size, or 0.
  std::size_t write(std::uint8_t* out, std::size_t capacity) {
    for (const Pointer& p : kPointers) {
      if (!empty(p.to)) add_long(p.in, p.tag, 0);  // value set below
    }
    for (FieldList& list : lists_)
      std::sort(list.f, list.f + list.n, [](const Field& a, const Field& b) { return a.tag < b.tag; });
    while (layout() > capacity) {
      if (!drop_largest()) return 0;
    }
    drop_pointers_to_empty_directories();
    const std::size_t total = layout();
    std::memset(out, 0, total);
    out[0] = out[1] = little_ ? 'I' : 'M';
    put16(out + 2, 42);
    put32(out + 4, 8);
    for (int d = 0; d < kDirCount; ++d) {
      const FieldList& list = lists_[d];
      if (list.n == 0) continue;
      std::uint8_t* p = out + dir_at_[d];
      put16(p, static_cast<std::uint16_t>(list.n));
      for (unsigned i = 0; i < list.n; ++i) {
        const Field& f = list.f[i];
        std::uint8_t* entry = p + 2 + 12 * i;
        put16(entry, f.tag);
        put16(entry + 2, f.type);
        put32(entry + 4, f.count);
        if (f.size <= 4) {
          std::memcpy(entry + 8, pool_ + f.at, f.size);
        } else {
          put32(entry + 8, value_at_[d][i]);
          std::memcpy(out + value_at_[d][i], pool_ + f.at, f.size);
        }
        for (const Pointer& ptr : kPointers) {
          if (ptr.in == d && ptr.tag == f.tag) put32(entry + 8, dir_at_[ptr.to]);
        }
      }
      // The next-directory word stays zero: there is no thumbnail directory.
    }
    return total;
  }

 private:
  std::uint8_t* reserve(Dir dir, std::uint16_t tag, std::size_t size) {
    FieldList& list = lists_[dir];
    if (list.n >= kMaxTiffDirEntries || list.has(tag) || size > sizeof pool_ - used_) return nullptr;
    return pool_ + used_;
  }
  void commit(Dir dir, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::size_t size) {
    FieldList& list = lists_[dir];
    list.f[list.n++] = {tag, type, count, static_cast<std::uint32_t>(used_), static_cast<std::uint32_t>(size)};
    used_ += size;
  }

  // Positions of the directories and of the values that do not fit their
  // entries (each on an even offset); returns the total size.
  std::size_t layout() {
    std::size_t pos = 8;
    for (int d = 0; d < kDirCount; ++d) {
      dir_at_[d] = static_cast<std::uint32_t>(pos);
      if (lists_[d].n) pos += 2 + 12 * std::size_t{lists_[d].n} + 4;
    }
    for (int d = 0; d < kDirCount; ++d) {
      for (unsigned i = 0; i < lists_[d].n; ++i) {
        const Field& f = lists_[d].f[i];
        if (f.size <= 4) continue;
        pos += pos & 1;
        value_at_[d][i] = static_cast<std::uint32_t>(pos);
        pos += f.size;
      }
    }
    return pos;
  }

  // A directory the size cut emptied is left out, and so is its pointer: a
  // pointer to it would lead to whatever follows (exiftool: "Bad GPS
  // directory"). Removing the Interop pointer may empty the Exif directory
  // in turn, hence the repeat.
  void drop_pointers_to_empty_directories() {
    for (bool removed = true; removed;) {
      removed = false;
      for (const Pointer& p : kPointers) {
        if (!empty(p.to)) continue;
        FieldList& list = lists_[p.in];
        for (unsigned i = 0; i < list.n; ++i) {
          if (list.f[i].tag != p.tag) continue;
          std::copy(list.f + i + 1, list.f + list.n, list.f + i);
          --list.n;
          removed = true;
          break;
        }
      }
    }
  }

  // Removes the field with the largest value held outside its entry; false
  // when there is none left to remove.
  bool drop_largest() {
    int best_d = -1;
    unsigned best_i = 0;
    for (int d = 0; d < kDirCount; ++d) {
      for (unsigned i = 0; i < lists_[d].n; ++i) {
        const Field& f = lists_[d].f[i];
        if (f.size > 4 && (best_d < 0 || f.size > lists_[best_d].f[best_i].size)) {
          best_d = d;
          best_i = i;
        }
      }
    }
    if (best_d < 0) return false;
    FieldList& list = lists_[best_d];
    std::copy(list.f + best_i + 1, list.f + list.n, list.f + best_i);
    --list.n;
    return true;
  }

  void put16(std::uint8_t* p, std::uint16_t v) const {
    if (little_) {
      p[0] = static_cast<std::uint8_t>(v);
      p[1] = static_cast<std::uint8_t>(v >> 8);
    } else {
      p[0] = static_cast<std::uint8_t>(v >> 8);
      p[1] = static_cast<std::uint8_t>(v);
    }
  }
  void put32(std::uint8_t* p, std::uint32_t v) const {
    for (int i = 0; i < 4; ++i) p[little_ ? i : 3 - i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  static void turn_round(std::uint8_t* p, std::size_t size, unsigned unit) {
    if (unit < 2) return;
    for (std::size_t i = 0; i + unit <= size; i += unit) std::reverse(p + i, p + i + unit);
  }

  bool little_;
  FieldList lists_[kDirCount];
  std::uint32_t dir_at_[kDirCount] = {};
  std::uint32_t value_at_[kDirCount][kMaxTiffDirEntries] = {};
  std::uint8_t pool_[kMaxExifTiffBytes];
  std::size_t used_ = 0;
};

// What the probe knows, for directories the RAW does not have.
void add_probe_ifd0(ExifBuilder& b) {
  b.add_text_field(kIfd0, 270, g_probe.image_description);
  if (!written_make().empty()) b.add_text(kIfd0, 271, written_make().data(), written_make().size());
  if (!written_model().empty()) b.add_text(kIfd0, 272, written_model().data(), written_model().size());
  b.add_time(kIfd0, 306);
  b.add_text_field(kIfd0, 315, g_probe.artist_name);
}

// Only values the probe learnt: a value it never found is left out, never
// written as 0.
void add_probe_exif(ExifBuilder& b) {
  auto millionths = [&](std::uint16_t tag, float value) {
    const std::int32_t v = exif_millionths(value);
    if (v <= 0) return;
    const std::uint32_t r[2] = {static_cast<std::uint32_t>(v), 1000000};
    b.add_rationals(kExif, tag, r, 1);
  };
  millionths(33434, g_probe.exposure_seconds);
  millionths(33437, g_probe.f_number);
  const std::int32_t iso = exif_truncate(g_probe.iso_rating);
  if (iso > 0) b.add_short(kExif, 34855, static_cast<std::uint16_t>(iso > 65535 ? 65535 : iso));
  b.add(kExif, 36864, kUndefined, 4, "0231", 4);
  b.add_time(kExif, 36867);
  millionths(37386, g_probe.focal_length_mm);
}

void add_probe_gps(ExifBuilder& b) {
  const std::uint32_t* w = g_probe.gps_words;
  if (w[1] == 0) return;
  auto low_bytes = [](std::uint32_t word, std::uint8_t (&out)[4]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(word >> (8 * i));
  };
  std::uint8_t version[4] = {2, 2, 0, 0}, lat_ref[4], lon_ref[4], alt_ref[4];
  low_bytes(w[29], lat_ref);
  low_bytes(w[30], lon_ref);
  low_bytes(w[31], alt_ref);
  b.add(kGps, 0, kByte, 4, version, 4);
  b.add(kGps, 1, kAscii, 2, lat_ref, 2);
  b.add_rationals(kGps, 2, w, 3);
  b.add(kGps, 3, kAscii, 2, lon_ref, 2);
  b.add_rationals(kGps, 4, w + 6, 3);
  b.add(kGps, 5, kByte, 1, alt_ref, 1);
  b.add_rationals(kGps, 6, w + 18, 1);
  b.add_rationals(kGps, 7, w + 12, 3);
  b.add(kGps, 18, kAscii, 12, w + 20, 12);
  b.add(kGps, 29, kAscii, 12, w + 23, 12);
}

// The 16-bit value at `at` in a byte order, or -1 when the file ends.
long read_u16_at(std::int64_t at, std::uint16_t order) {
  std::uint8_t b[2];
  probe_seek(at);
  if (probe_read(b, 2) != 2) return -1;
  return order == 0x4949 ? b[0] | b[1] << 8 : b[0] << 8 | b[1];
}

// A Panasonic RW2: its TIFF header says 0x55 where others say 42.
bool is_panasonic_raw() {
  const RawDirectoryRef& ifd0 = g_probe.raw_ifd0;
  return ifd0.offset > 0 && read_u16_at(static_cast<std::int64_t>(ifd0.base) + 2, ifd0.byte_order) == 0x55;
}

// The LONG value of `tag` in the directory at ref (the first such entry),
// or 0 when it has none.
std::uint32_t pointer_in(const RawDirectoryRef& ref, std::uint16_t tag) {
  const std::uint16_t saved = g_probe.byte_order;
  g_probe.byte_order = ref.byte_order;
  std::uint32_t value = 0;
  probe_seek(ref.offset);
  std::uint8_t head[2];
  const unsigned n = probe_read(head, 2) == 2 ? decode_u16(head) : 0;
  for (unsigned i = 0; n <= kMaxTiffDirEntries && i < n && value == 0; ++i) {
    std::uint8_t e[12];
    if (probe_read(e, sizeof e) != sizeof e) break;
    if (decode_u16(e) == tag && (decode_u16(e + 2) == kLong || decode_u16(e + 2) == 13) && decode_u32(e + 4) == 1)
      value = decode_u32(e + 8);
  }
  g_probe.byte_order = saved;
  return value;
}

// The directories of a JPEG's Exif segment whose TIFF structure lies from
// `tiff` to `end`: IFD0 and, through its pointers, Exif, GPS and Interop.
// A pointer that leads outside the structure finds nothing.
struct SegmentDirectories {
  RawDirectoryRef dir[kDirCount] = {};
};

SegmentDirectories locate_segment_directories(std::int64_t tiff, std::int64_t end) {
  SegmentDirectories d;
  if (tiff <= 0 || tiff > static_cast<std::int64_t>(UINT32_MAX) || end - tiff < 8) return d;
  const long order = read_u16_at(tiff, 0x4949);
  if (order != 0x4949 && order != 0x4D4D) return d;
  const auto byte_order = static_cast<std::uint16_t>(order);
  if (read_u16_at(tiff + 2, byte_order) != 42) return d;
  const auto base = static_cast<std::uint32_t>(tiff);
  auto at = [&](std::uint32_t offset) -> RawDirectoryRef {
    if (offset < 8 || tiff + offset + 2 > end) return {};
    return {tiff + offset, base, byte_order};
  };
  std::uint8_t first[4];
  probe_seek(tiff + 4);
  if (probe_read(first, 4) != 4) return d;
  d.dir[kIfd0] = at(byte_order == 0x4949 ? std::uint32_t{first[0]} | first[1] << 8 | first[2] << 16 |
                                               std::uint32_t{first[3]} << 24
                                         : std::uint32_t{first[0]} << 24 | first[1] << 16 | first[2] << 8 | first[3]);
  if (!d.dir[kIfd0].offset) return d;
  d.dir[kExif] = at(pointer_in(d.dir[kIfd0], 34665));
  d.dir[kGps] = at(pointer_in(d.dir[kIfd0], 34853));
  if (d.dir[kExif].offset) d.dir[kInterop] = at(pointer_in(d.dir[kExif], 40965));
  return d;
}

}  // namespace

std::size_t build_full_exif(std::uint8_t* out, std::size_t capacity, const char* software,
                            std::uint32_t pixel_width, std::uint32_t pixel_height,
                            std::int64_t preview_exif_tiff, std::int64_t preview_exif_end) {
  const RawDirectoryRef& order_from = g_probe.raw_ifd0.offset ? g_probe.raw_ifd0 : g_probe.raw_exif;
  const bool little = order_from.offset ? order_from.byte_order == 0x4949 : std::endian::native == std::endian::little;
  std::unique_ptr<ExifBuilder> b(new (std::nothrow) ExifBuilder(little));
  if (!b) return 0;

  // Ours first: a copied directory never holds these tags.
  b->add_short(kIfd0, 274, static_cast<std::uint16_t>(exif_orientation()));
  const char* sw = software ? software : kProbeDefaultSoftware;
  b->add_text(kIfd0, 305, sw, std::min<std::size_t>(std::strlen(sw), 31));
  if (pixel_width && pixel_height) {
    b->add_long(kExif, 40962, pixel_width);
    b->add_long(kExif, 40963, pixel_height);
  }

  const bool rw2 = is_panasonic_raw();
  if (g_probe.raw_ifd0.offset)
    b->copy(g_probe.raw_ifd0, kIfd0, rw2 ? is_descriptive_rw2_ifd0_tag : is_descriptive_ifd0_tag);
  else
    add_probe_ifd0(*b);
  if (rw2) {
    // An RW2's own directories are poorer than its JPEG's (no ISO, colour
    // space or Interop): the output holds the union of both, the RAW's own
    // entries first, so that they win where the two disagree.
    b->copy(g_probe.raw_exif, kExif, is_copied_exif_tag);
    b->copy(g_probe.raw_gps, kGps, is_copied_plain_tag);
    b->copy(g_probe.raw_interop, kInterop, is_copied_plain_tag);
    const SegmentDirectories own = locate_segment_directories(preview_exif_tiff, preview_exif_end);
    b->copy(own.dir[kIfd0], kIfd0, is_descriptive_ifd0_tag, preview_exif_end);
    b->copy(own.dir[kExif], kExif, is_copied_exif_tag, preview_exif_end);
    b->copy(own.dir[kGps], kGps, is_copied_plain_tag, preview_exif_end);
    b->copy(own.dir[kInterop], kInterop, is_copied_plain_tag, preview_exif_end);
  }
  if (g_probe.raw_exif.offset)
    b->copy(g_probe.raw_exif, kExif, is_copied_exif_tag);
  else
    add_probe_exif(*b);
  if (g_probe.raw_gps.offset)
    b->copy(g_probe.raw_gps, kGps, is_copied_plain_tag);
  else
    add_probe_gps(*b);
  b->copy(g_probe.raw_interop, kInterop, is_copied_plain_tag);
  return b->write(out, capacity);
}

unsigned char* assemble_full_exif_preview(std::int64_t offset, std::uint32_t length, const char* software,
                                          std::uint32_t* out_length) {
  // Spans of the preview kept, in order; the new segment goes in before span
  // `insert_at` (where the first Exif segment was, else after the start).
  struct Span {
    std::uint32_t from, to;
  };
  Span spans[probe_limits::kMaxPreviewSegments + 1];
  unsigned count = 0, insert_at = 0;
  bool replaced = false;
  JpegSegment own_exif = {};
  std::uint32_t width = 0, height = 0;
  const std::uint32_t pos = walk_leading_segments(offset, length, [&](const JpegSegment& seg) {
    if (seg.is_exif()) {
      if (!replaced) {
        insert_at = count;
        own_exif = seg;
      }
      replaced = true;
      return true;
    }
    const unsigned marker = seg.marker;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && seg.size >= 9 && width == 0) {
      height = static_cast<std::uint32_t>(seg.head[1] << 8 | seg.head[2]);
      width = static_cast<std::uint32_t>(seg.head[3] << 8 | seg.head[4]);
    }
    if (count && spans[count - 1].to == seg.at && !(replaced && insert_at == count))
      spans[count - 1].to = seg.at + seg.size;
    else
      spans[count++] = {seg.at, seg.at + seg.size};
    return true;
  });
  if (pos < length) {
    if (count && spans[count - 1].to == pos && !(replaced && insert_at == count))
      spans[count - 1].to = length;
    else
      spans[count++] = {pos, length};
  }

  std::unique_ptr<std::uint8_t[]> exif(new (std::nothrow) std::uint8_t[probe_limits::kMaxExifTiffBytes]);
  if (!exif) return nullptr;
  // The TIFF structure of the preview's own Exif segment, after "Exif\0\0".
  const std::int64_t own_tiff = own_exif.size ? offset + own_exif.at + 10 : 0;
  const std::size_t exif_size = build_full_exif(exif.get(), probe_limits::kMaxExifTiffBytes, software, width, height,
                                                own_tiff, own_exif.size ? offset + own_exif.at + own_exif.size : 0);
  if (exif_size == 0) return nullptr;

  std::uint64_t total = 2 + 10 + exif_size;
  for (unsigned i = 0; i < count; ++i) total += spans[i].to - spans[i].from;
  if (total > 0xFFFFFFFFu) return nullptr;
  auto* data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(total)));
  if (!data) return nullptr;
  std::size_t at = 0;
  data[at++] = 0xFF;
  data[at++] = 0xD8;
  for (unsigned i = 0; i <= count; ++i) {
    if (i == insert_at) {
      const std::size_t segment = 2 + 6 + exif_size;
      const std::uint8_t head[10] = {0xFF, 0xE1, static_cast<std::uint8_t>(segment >> 8),
                                     static_cast<std::uint8_t>(segment), 'E', 'x', 'i', 'f', 0, 0};
      std::memcpy(data + at, head, sizeof head);
      std::memcpy(data + at + sizeof head, exif.get(), exif_size);
      at += sizeof head + exif_size;
    }
    if (i == count) break;
    const std::size_t n = spans[i].to - spans[i].from;
    probe_seek(offset + spans[i].from);
    if (probe_read(data + at, n) != n) {
      std::free(data);
      return nullptr;
    }
    at += n;
  }
  *out_length = static_cast<std::uint32_t>(at);
  return data;
}

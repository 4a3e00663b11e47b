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

// Exif tags not copied: the maker note (its offsets break when moved), the
// filler and offset schema that only serve it, the pixel size (the preview
// has its own), and directory pointers (written anew).
bool is_copied_exif_tag(unsigned tag) {
  switch (tag) {
    case 37500: case 40962: case 40963: case 40965: case 0xEA1C: case 0xEA1D:
    case 330: case 34665: case 34853:
      return false;
    default:
      return true;
  }
}

// GPS and Interop tags: all but directory pointers, which mean nothing
// there and whose values would point at bytes of the RAW.
bool is_copied_plain_tag(unsigned tag) { return tag != 330 && tag != 34665 && tag != 34853 && tag != 40965; }

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
  // Entries whose value the file does not hold whole are left out.
  void copy(const RawDirectoryRef& ref, Dir dir, bool (*keep)(unsigned tag)) {
    if (ref.offset <= 0) return;
    const std::uint16_t saved = g_probe.byte_order;
    g_probe.byte_order = ref.byte_order;
    const bool source_little = ref.byte_order == 0x4949;
    std::uint8_t head[2];
    probe_seek(ref.offset);
    const unsigned n = probe_read(head, 2) == 2 ? decode_u16(head) : 0;
    for (unsigned i = 0; n <= kMaxTiffDirEntries && i < n; ++i) {
      std::uint8_t e[12];
      probe_seek(ref.offset + 2 + 12 * static_cast<std::int64_t>(i));
      if (probe_read(e, sizeof e) != sizeof e) break;
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
        if (at + static_cast<std::int64_t>(size) > probe_file_size()) continue;
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

void add_probe_exif(ExifBuilder& b) {
  const std::uint32_t exposure[2] = {static_cast<std::uint32_t>(exif_millionths(g_probe.exposure_seconds)), 1000000};
  const std::uint32_t f_number[2] = {static_cast<std::uint32_t>(exif_millionths(g_probe.f_number)), 1000000};
  const std::uint32_t focal[2] = {static_cast<std::uint32_t>(exif_millionths(g_probe.focal_length_mm)), 1000000};
  b.add_rationals(kExif, 33434, exposure, 1);
  b.add_rationals(kExif, 33437, f_number, 1);
  b.add_short(kExif, 34855, static_cast<std::uint16_t>(exif_truncate(g_probe.iso_rating)));
  b.add(kExif, 36864, kUndefined, 4, "0231", 4);
  b.add_time(kExif, 36867);
  b.add_rationals(kExif, 37386, focal, 1);
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

}  // namespace

std::size_t build_full_exif(std::uint8_t* out, std::size_t capacity, const char* software,
                            std::uint32_t pixel_width, std::uint32_t pixel_height) {
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

  if (g_probe.raw_ifd0.offset)
    b->copy(g_probe.raw_ifd0, kIfd0, is_descriptive_ifd0_tag);
  else
    add_probe_ifd0(*b);
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
  std::uint32_t width = 0, height = 0;
  std::uint32_t pos = 2;
  for (unsigned s = 0; s < probe_limits::kMaxPreviewSegments && std::uint64_t{pos} + 4 <= length; ++s) {
    std::uint8_t m[4];
    probe_seek(offset + pos);
    if (probe_read(m, 4) != 4 || m[0] != 0xFF) break;
    const unsigned marker = m[1];
    // Scan data, and markers without a length, end the walk: from there on
    // the preview is kept as it is.
    if (marker == 0xDA || marker == 0xD8 || marker == 0xD9 || marker == 0x01 || marker == 0xFF ||
        (marker >= 0xD0 && marker <= 0xD7))
      break;
    const std::uint32_t segment = 2u + (m[2] << 8 | m[3]);
    if (segment < 4 || std::uint64_t{pos} + segment > length) break;
    std::uint8_t body[6] = {};
    probe_read(body, std::min<std::uint32_t>(segment - 4, sizeof body));
    if (marker == 0xE1 && segment >= 10 && std::memcmp(body, "Exif\0", 5) == 0) {
      if (!replaced) insert_at = count;
      replaced = true;
    } else {
      const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
      if (frame && segment >= 9 && width == 0) {
        height = static_cast<std::uint32_t>(body[1] << 8 | body[2]);
        width = static_cast<std::uint32_t>(body[3] << 8 | body[4]);
      }
      if (count && spans[count - 1].to == pos && !(replaced && insert_at == count))
        spans[count - 1].to = pos + segment;
      else
        spans[count++] = {pos, pos + segment};
    }
    pos += segment;
  }
  if (pos < length) {
    if (count && spans[count - 1].to == pos && !(replaced && insert_at == count))
      spans[count - 1].to = length;
    else
      spans[count++] = {pos, length};
  }

  std::unique_ptr<std::uint8_t[]> exif(new (std::nothrow) std::uint8_t[probe_limits::kMaxExifTiffBytes]);
  if (!exif) return nullptr;
  const std::size_t exif_size = build_full_exif(exif.get(), probe_limits::kMaxExifTiffBytes, software, width, height);
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

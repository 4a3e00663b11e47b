// Maker notes: the maker-specific directory behind the Exif MakerNote tag.
// The reader recognises the maker's header, takes the byte order and base
// the maker uses, and walks the entries for the preview location, the
// orientation and the shot data the inserted Exif block carries.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

// Offset and length tags come one at a time; the pair is noted as it stands
// after each (the offset's second note completes the first).
void note_preview_pair(const char* where) {
  if (g_probe.preview_length)
    note_embedded_image(where, g_probe.preview_offset, g_probe.preview_length);
}

// True when the header bytes spell exactly `text` followed by a NUL within
// the header.
bool header_is(const unsigned char (&head)[10], const char* text) {
  std::size_t n = std::strlen(text);
  return n < sizeof head && std::memcmp(head, text, n + 1) == 0;
}

// True when the header begins with the letters of `text`.
bool header_begins(const unsigned char (&head)[10], const char* text) {
  std::size_t n = std::strlen(text);
  return n <= sizeof head && std::memcmp(head, text, n) == 0;
}

// The byte order two bytes name ("II" or "MM"), or 0.
std::uint16_t byte_order_mark(const unsigned char* p) {
  if (p[0] == 'I' && p[1] == 'I') return 0x4949;
  if (p[0] == 'M' && p[1] == 'M') return 0x4D4D;
  return 0;
}

bool make_begins(const char* prefix) { return field_text(g_probe.camera_make).starts_with(prefix); }

// Reads a text of at most 63 characters into a 64-byte field, ending after
// a newline when one comes first.
void read_short_text(char (&field)[64]) {
  std::size_t i = 0;
  while (i < sizeof field - 1) {
    int c = probe_getc();
    if (c < 0) break;
    field[i++] = static_cast<char>(c);
    if (c == '\n' || c == 0) break;
  }
  field[i] = 0;
}

// Canon shot information: ISO, aperture and exposure as APEX-like codes.
// Each value is taken only while nothing else set it.
void read_shot_info() {
  read_u32();
  unsigned iso_code = read_u16();
  if (iso_code != 0x7FFF && g_probe.iso_rating == 0)
    g_probe.iso_rating = static_cast<float>(50.0 * std::pow(2.0, iso_code / 32.0 - 4.0));
  read_u16();
  unsigned aperture_code = read_u16();
  if (aperture_code != 0x7FFF && g_probe.f_number == 0)
    g_probe.f_number = static_cast<float>(std::pow(2.0, aperture_code / 64.0));
  int exposure_code = static_cast<std::int16_t>(read_u16());
  if (exposure_code != -1 && g_probe.exposure_seconds == 0)
    g_probe.exposure_seconds = static_cast<float>(std::pow(2.0, -exposure_code / 32.0));
  // White-balance index and shot order follow; both serve colour only.
}

// Konica camera settings: one 16-bit word tells how the camera was held.
void read_konica_orientation(unsigned tag) {
  probe_seek(probe_tell() + (tag == 4 ? 140 : 160));
  switch (read_u16()) {
    case 72: g_probe.orientation_code = 0; break;
    case 76: g_probe.orientation_code = 6; break;
    case 82: g_probe.orientation_code = 5; break;
    default: break;
  }
}

// Olympus-style block whose orientation byte sits ten bytes after a 0xBB
// 0xBB pair near its start.
void read_marked_orientation() {
  unsigned char block[324];
  std::memset(block, 0, sizeof block);
  probe_read(block, sizeof block);
  std::ptrdiff_t pair = find_bytes(block, sizeof block, "\xBB\xBB", 2);
  if (pair < 0) return;
  std::ptrdiff_t at = pair + 10;
  if (at < 70 && block[at] < 3) g_probe.orientation_code = "065"[block[at]] - '0';
}

// Capture-edit records, always little-endian; one of them holds the
// orientation (a code, or a rotation angle in degrees).
void read_capture_edit(std::uint32_t count, std::int64_t value_pos) {
  std::uint16_t saved = g_probe.byte_order;
  g_probe.byte_order = 0x4949;
  for (std::int64_t offset = 22; offset + 22 < count; ) {
    if (!take_work()) break;
    std::int64_t record = value_pos + offset;
    probe_seek(record);
    std::uint32_t tag = read_u32();
    probe_seek(record + 18);
    std::uint32_t size = read_u32();
    if (tag == 0x76A43207) {
      std::int32_t value = read_u16();
      if (value <= 7) {
        g_probe.orientation_code = value;
      } else {
        int code = rotation_degrees_to_code(value);
        if (code >= 0) g_probe.orientation_code = code;
      }
    }
    offset += static_cast<std::int64_t>(size) + 18;
  }
  g_probe.byte_order = saved;
}

// The preview a Pentax note describes in three tags: 2, its size (two
// SHORTs, width then height); 3, its length; 4, its start.
struct PentaxPreview {
  bool note = false;  // the note is a Pentax one
  unsigned width = 0, height = 0;
  std::uint32_t length = 0;
  std::int64_t start = 0;
};

void handle_pentax_entry(std::uint32_t base, const TagHeader& h, PentaxPreview& p) {
  if (h.tag == 2 && h.type == 3 && h.count == 2) {
    p.width = read_u16();
    p.height = read_u16();
  } else if (h.tag == 3 && h.type == 4) {
    p.length = read_u32();
  } else if (h.tag == 4 && h.type == 4) {
    const std::uint32_t start = read_u32();
    p.start = start ? std::int64_t{base} + start : 0;
  }
}

void handle_entry(std::uint32_t base, const TagHeader& h, unsigned tag) {
  std::int64_t value_pos = probe_tell();
  if (tag == 2 && text_contains(field_text(g_probe.camera_make), "NIKON")) {
    read_u16();
    g_probe.iso_rating = read_u16();
  }
  if (tag == 4 && h.count >= 27 && h.count <= 34) {
    read_shot_info();
    probe_seek(value_pos);
  }
  if ((tag == 4 || tag == 276) && make_begins("KONICA")) {
    read_konica_orientation(tag);
    probe_seek(value_pos);
  }
  if (tag == 7 && h.type == 2 && h.count >= 21) read_short_text(g_probe.model_detail);
  if (tag == 9 && field_text(g_probe.camera_make) == "Canon")
    probe_read(g_probe.artist_name, sizeof g_probe.artist_name);
  if (tag == 13 && h.type == 7 && read_u16() == 0xAAAA) read_marked_orientation();
  if (tag == 17 && g_probe.raw_supported && make_begins("NIKON")) {
    probe_seek(static_cast<std::uint32_t>(base + read_u32()));
    read_tiff_dir(base);
  }
  if (tag == 21 && h.type == 2 && g_probe.raw_supported)
    probe_read(g_probe.camera_model, sizeof g_probe.camera_model);
  if ((tag == 129 && h.type == 7) || (tag == 256 && h.type == 7) ||
      (tag == 640 && h.type == 1)) {
    g_probe.preview_offset = value_pos;
    g_probe.preview_length = h.count;
    note_embedded_image("maker note", value_pos, h.count);
  }
  if (tag == 136 && h.type == 4) {
    std::uint32_t offset = read_u32();
    g_probe.preview_offset = offset ? static_cast<std::uint32_t>(offset + base) : 0;
  }
  if (tag == 137 && h.type == 4) g_probe.preview_length = read_u32();
  if ((tag == 136 || tag == 137) && h.type == 4) note_preview_pair("maker note");
  if (tag == 3585) read_capture_edit(h.count, value_pos);
  if (tag >= 0x2000 && tag <= 0x2070 && (tag & 0xF) == 0 && h.type == 4)
    probe_seek(static_cast<std::uint32_t>(base + read_u32()));
  if (tag == 8224) read_preview_note(base, 257, 258);
  if (tag == 8256) read_maker_note(base, 0x2040);
  if (tag == 45096) {
    probe_seek(static_cast<std::uint32_t>(base + read_u32()));
    read_preview_note(base, 136, 137);
  }
  // Every other tag (white balance, black levels, curves, serial numbers,
  // the image-processing directory) serves colour or sensor decoding only.
}

}  // namespace

void read_maker_note(std::uint32_t base, unsigned upper_tag) {
  NestingGuard guard;
  if (!guard.ok()) return;
  const std::uint16_t saved_order = g_probe.byte_order;
  const std::int64_t note = probe_tell();
  PentaxPreview pentax;
  unsigned char head[10];
  std::memset(head, 0, sizeof head);
  probe_read(head, sizeof head);

  if (header_begins(head, "KDK") || header_begins(head, "VER") || header_begins(head, "IIII") ||
      header_begins(head, "MMMM"))
    return;
  if (header_begins(head, "KC") || header_begins(head, "MLY")) {
    // These notes hold only a white-balance record, which serves colour
    // alone; nothing in them is read.
    g_probe.byte_order = saved_order;
    return;
  }
  if (header_is(head, "Nikon")) {
    base = static_cast<std::uint32_t>(note + 10);
    g_probe.byte_order = read_u16();
    if (read_u16() != 42) {
      g_probe.byte_order = saved_order;
      return;
    }
    probe_seek(static_cast<std::uint32_t>(base + read_u32()));
  } else if (header_is(head, "OLYMPUS")) {
    base = static_cast<std::uint32_t>(note);
    probe_seek(note + 8);
    g_probe.byte_order = read_u16();
    read_u16();
  } else if (header_begins(head, "FUJIFILM") || header_begins(head, "SONY") ||
             header_is(head, "Panasonic")) {
    g_probe.byte_order = 0x4949;
    probe_seek(note + 12);
  } else if (header_is(head, "OLYMP") || header_is(head, "LEICA") || header_is(head, "Ricoh") ||
             header_is(head, "EPSON")) {
    probe_seek(note + 8);
  } else if (header_is(head, "PENTAX ") && byte_order_mark(head + 8)) {
    // Offsets count from the note's first byte; its own byte order follows
    // the eight-byte name.
    base = static_cast<std::uint32_t>(note);
    g_probe.byte_order = byte_order_mark(head + 8);
    probe_seek(note + 10);
    pentax.note = true;
  } else if (header_is(head, "AOC") || header_is(head, "QVC")) {
    // The older Pentax note: offsets count from the TIFF header (the base
    // passed in); it may state its byte order after the name.
    if (header_is(head, "AOC")) {
      pentax.note = true;
      if (byte_order_mark(head + 4)) g_probe.byte_order = byte_order_mark(head + 4);
    }
    probe_seek(note + 6);
  } else {
    probe_seek(note);
  }

  unsigned entries = read_u16();
  if (entries > probe_limits::kMaxMakerNoteEntries) return;
  while (entries--) {
    if (!take_work()) break;
    TagHeader h = read_tag_header(base);
    unsigned tag = h.tag | upper_tag << 16;
    if (pentax.note) {
      const std::int64_t value_pos = probe_tell();
      handle_pentax_entry(base, h, pentax);
      probe_seek(value_pos);
    }
    handle_entry(base, h, tag);
    probe_seek(h.next);
  }
  if (pentax.note && pentax.start > 0 && pentax.length) {
    g_probe.preview_offset = pentax.start;
    g_probe.preview_length = pentax.length;
    note_embedded_image("Pentax maker note preview", pentax.start, pentax.length, pentax.width, pentax.height);
  }
  g_probe.byte_order = saved_order;
}

void read_preview_note(std::uint32_t base, unsigned offset_tag, unsigned length_tag) {
  unsigned entries = read_u16();
  while (entries--) {
    if (!take_work()) break;
    TagHeader h = read_tag_header(base);
    if (h.tag == offset_tag) g_probe.preview_offset = static_cast<std::uint32_t>(read_u32() + base);
    if (h.tag == length_tag) g_probe.preview_length = read_u32();
    if (h.tag == offset_tag || h.tag == length_tag) note_preview_pair("maker note preview directory");
    probe_seek(h.next);
  }
}

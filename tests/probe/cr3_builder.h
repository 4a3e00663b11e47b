// Builds small CR3 files (ISO base-media boxes with the "crx " brand) for
// tests and benchmarks: the CMT1/CMT2/CMT4 TIFF structures, THMB, PRVW and
// a first track whose one sample is the full-size JPEG in "mdat".
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cr3_test {

using Bytes = std::vector<std::uint8_t>;

inline void put_be(Bytes& b, std::uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A box with a 32-bit size (or `size_field` in its place when not ~0).
inline Bytes box(const char* type, const Bytes& payload, std::uint32_t size_field = ~0u) {
  Bytes b;
  put_be(b, size_field != ~0u ? size_field : 8 + payload.size(), 4);
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

// A box with size 1 and the 64-bit size after the type.
inline Bytes box64(const char* type, const Bytes& payload) {
  Bytes b;
  put_be(b, 1, 4);
  b.insert(b.end(), type, type + 4);
  put_be(b, 16 + payload.size(), 8);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

inline const Bytes kCanonUuid = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                 0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
inline const Bytes kPreviewUuid = {0xea, 0xf4, 0x2b, 0x5e, 0x1c, 0x98, 0x4b, 0x88,
                                   0xb9, 0xfb, 0xb7, 0xdc, 0x40, 0x6e, 0x4d, 0x16};

inline Bytes uuid_box(const Bytes& uuid, const Bytes& payload) { return box("uuid", cat({uuid, payload})); }

// A one-directory TIFF structure; entries are (tag, type, count, value
// bytes in file order), values longer than four bytes follow the directory.
struct TiffEntry {
  std::uint16_t tag, type;
  std::uint32_t count;
  Bytes value;
};

inline Bytes tiff(bool little, const std::vector<TiffEntry>& entries) {
  auto put = [&](Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (little ? 8 * i : 8 * (n - 1 - i))));
  };
  Bytes b = {std::uint8_t(little ? 'I' : 'M'), std::uint8_t(little ? 'I' : 'M')};
  put(b, 42, 2);
  put(b, 8, 4);
  put(b, static_cast<std::uint32_t>(entries.size()), 2);
  std::uint32_t data = static_cast<std::uint32_t>(8 + 2 + 12 * entries.size() + 4);
  Bytes tail;
  for (const TiffEntry& e : entries) {
    put(b, e.tag, 2);
    put(b, e.type, 2);
    put(b, e.count, 4);
    if (e.value.size() <= 4) {
      Bytes v = e.value;
      v.resize(4, 0);
      b.insert(b.end(), v.begin(), v.end());
    } else {
      put(b, data + static_cast<std::uint32_t>(tail.size()), 4);
      tail.insert(tail.end(), e.value.begin(), e.value.end());
      if (tail.size() & 1) tail.push_back(0);
    }
  }
  put(b, 0, 4);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

// Value bytes in a byte order.
inline Bytes u16v(bool little, std::uint16_t v) {
  return little ? Bytes{std::uint8_t(v), std::uint8_t(v >> 8)} : Bytes{std::uint8_t(v >> 8), std::uint8_t(v)};
}
inline Bytes u32v(bool little, std::uint32_t v) {
  Bytes b(4);
  for (int i = 0; i < 4; ++i) b[i] = std::uint8_t(v >> (little ? 8 * i : 8 * (3 - i)));
  return b;
}
inline Bytes rationalv(bool little, std::uint32_t n, std::uint32_t d) { return cat({u32v(little, n), u32v(little, d)}); }
inline Bytes textv(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

// THMB and PRVW payloads: version and flags, the fields at their places,
// the JPEG from byte 16. `length_field` overrides the stated length.
inline Bytes thmb_payload(const Bytes& jpeg, std::uint16_t w, std::uint16_t h, std::int64_t length_field = -1) {
  Bytes b;
  put_be(b, 0, 4);
  put_be(b, w, 2);
  put_be(b, h, 2);
  put_be(b, length_field >= 0 ? std::uint64_t(length_field) : jpeg.size(), 4);
  put_be(b, 0x00010000, 4);
  return cat({b, jpeg});
}
inline Bytes prvw_payload(const Bytes& jpeg, std::uint16_t w, std::uint16_t h, std::int64_t length_field = -1) {
  Bytes b;
  put_be(b, 0, 4);
  put_be(b, 1, 2);
  put_be(b, w, 2);
  put_be(b, h, 2);
  put_be(b, 1, 2);
  put_be(b, length_field >= 0 ? std::uint64_t(length_field) : jpeg.size(), 4);
  return cat({b, jpeg});
}

// The first track: a CRAW sample entry with the pixel size, the sample
// size, and a 64-bit chunk offset (patched by build_cr3).
inline Bytes track(std::uint16_t w, std::uint16_t h, std::uint32_t sample_size) {
  Bytes craw(78, 0);  // visual sample entry fields after the 8-byte header
  craw[7] = 1;        // data reference index
  craw[24] = std::uint8_t(w >> 8), craw[25] = std::uint8_t(w);
  craw[26] = std::uint8_t(h >> 8), craw[27] = std::uint8_t(h);
  Bytes stsd = {0, 0, 0, 0, 0, 0, 0, 1};
  stsd = cat({stsd, box("CRAW", craw)});
  Bytes stsz;
  put_be(stsz, 0, 4);
  put_be(stsz, sample_size, 4);
  put_be(stsz, 1, 4);
  Bytes co64;
  put_be(co64, 0, 4);
  put_be(co64, 1, 4);
  put_be(co64, 0, 8);
  Bytes stbl = cat({box("stsd", stsd), box("stsz", stsz), box("co64", co64)});
  return box("trak", box("mdia", box("minf", box("stbl", stbl))));
}

struct Cr3Parts {
  bool little_cmt = true;
  Bytes full_size, preview, thumbnail;  // empty: left out
  // Raw boxes placed inside Canon's uuid box before THMB, and inside moov
  // before the first track.
  Bytes canon_extra, movie_extra;
  std::uint16_t orientation = 1;
  Bytes gps_tiff;  // replaces the builder's CMT4 structure when not empty
};

// Canon's uuid box: CNCV, CMT1 (make, model, orientation, time), CMT2
// (exposure, f-number, ISO, time, focal length), CMT4 (GPS), then THMB.
inline Bytes canon_uuid(const Cr3Parts& p) {
  const bool le = p.little_cmt;
  Bytes cmt1 = tiff(le, {{271, 2, 6, textv("Canon")},
                         {272, 2, 13, textv("Canon EOS R6")},
                         {274, 3, 1, u16v(le, p.orientation)},
                         {306, 2, 20, textv("2025:09:06 20:24:47")}});
  Bytes cmt2 = tiff(le, {{33434, 5, 1, rationalv(le, 1, 100)},
                         {33437, 5, 1, rationalv(le, 28, 10)},
                         {34855, 3, 1, u16v(le, 25600)},
                         {36867, 2, 20, textv("2025:09:06 20:24:48")},
                         {37386, 5, 1, rationalv(le, 100, 1)}});
  Bytes cmt4 = tiff(le, {{1, 2, 2, textv("N")},
                         {2, 5, 3, cat({rationalv(le, 37, 1), rationalv(le, 23, 1), rationalv(le, 0, 1)})},
                         {3, 2, 2, textv("W")},
                         {4, 5, 3, cat({rationalv(le, 122, 1), rationalv(le, 4, 1), rationalv(le, 30, 1)})}});
  if (!p.gps_tiff.empty()) cmt4 = p.gps_tiff;
  Bytes children = cat({box("CNCV", textv("CanonCR3_001/00.10.00/00.00.00")), box("CMT1", cmt1),
                        box("CMT2", cmt2), box("CMT3", tiff(le, {})), box("CMT4", cmt4), p.canon_extra});
  if (!p.thumbnail.empty()) children = cat({children, box("THMB", thmb_payload(p.thumbnail, 160, 120))});
  return uuid_box(kCanonUuid, children);
}

// ftyp, moov (Canon's uuid, the first track and a second one), the
// preview uuid, then mdat holding the full-size JPEG.
inline Bytes build_cr3(const Cr3Parts& p) {
  Bytes ftyp = box("ftyp", {'c', 'r', 'x', ' ', 0, 0, 0, 1, 'c', 'r', 'x', ' ', 'i', 's', 'o', 'm'});
  Bytes moov_children = cat({canon_uuid(p), p.movie_extra});
  if (!p.full_size.empty()) {
    moov_children = cat({moov_children, track(5472, 3648, static_cast<std::uint32_t>(p.full_size.size())),
                         track(6000, 4000, 1000)});
  }
  Bytes moov = box("moov", moov_children);
  Bytes prvw;
  if (!p.preview.empty()) {
    prvw = uuid_box(kPreviewUuid, cat({Bytes{0, 0, 0, 0, 0, 0, 0, 1}, box("PRVW", prvw_payload(p.preview, 1620, 1080))}));
  }
  Bytes file = cat({ftyp, moov, prvw});
  const std::uint64_t jpeg_at = file.size() + 8;
  file = cat({file, box("mdat", p.full_size)});
  // The first co64 box is the first track's: point it at mdat's payload.
  const char* co64 = "co64";
  for (std::size_t i = 0; i + 4 <= file.size(); ++i) {
    if (std::memcmp(&file[i], co64, 4) == 0) {
      for (int k = 0; k < 8; ++k) file[i + 12 + k] = std::uint8_t(jpeg_at >> (8 * (7 - k)));
      break;
    }
  }
  return file;
}

}  // namespace cr3_test

// Builds RAW-like camera files around a real JPEG, for tests and the
// benchmark corpus: little-endian TIFF structures in the layouts cameras
// use to carry a full-size preview, followed by sensor-sized filler.
//
//   kStripJpeg:  a CR2-style header; IFD0 holds the preview as its strip
//                (273/279, compression 6, 3 samples); IFD1 describes the
//                1-sample sensor data.
//   kSubIfdJpeg: IFD0 holds make/model and two SubIFDs (tag 330): one with
//                the preview (513/514), one with the sensor data.
//   kTag46Jpeg:  a "IIU" header whose IFD0 carries the preview as an
//                undefined-type tag 46 value, plus the sensor data strip.
//
// With `exif`, IFD0 also carries Orientation, DateTime, Artist, Copyright
// and pointers to an Exif directory (shot data of every field type, a maker
// note and an Interop directory) and a GPS directory, stored after the
// sensor filler.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <utility>
#include <string>
#include <vector>

#include "support/byte_writer.h"

namespace raw_builder {

enum class Layout { kStripJpeg, kSubIfdJpeg, kTag46Jpeg };

struct RawSpec {
  Layout layout = Layout::kStripJpeg;
  std::vector<std::uint8_t> jpeg;     // the embedded preview, stored as given
  std::string make = "Canon";
  std::string model = "Canon EOS Test";
  std::uint32_t sensorWidth = 4000;   // size claimed for the sensor data
  std::uint32_t sensorHeight = 3000;
  std::size_t fillerBytes = 4096;     // sensor data actually stored
  std::uint8_t fillerSeed = 0x5A;     // filler pattern, so files differ
  bool exif = false;                  // camera metadata directories (see above)
};

namespace detail {

struct Entry {
  std::uint16_t tag, type;
  std::uint32_t count, value;  // value or offset
};

// Writes a directory at the current end of w; entries must be sorted by tag.
inline std::size_t put_ifd(ByteWriter& w, const std::vector<Entry>& entries, std::uint32_t next = 0) {
  std::size_t at = w.size();
  w.u16(static_cast<std::uint16_t>(entries.size()));
  for (const Entry& e : entries) {
    w.u16(e.tag).u16(e.type).u32(e.count);
    if (e.type == 3 && e.count == 1)
      w.u16(static_cast<std::uint16_t>(e.value)).u16(0);
    else
      w.u32(e.value);
  }
  w.u32(next);
  return at;
}

inline std::size_t put_text(ByteWriter& w, const std::string& s) {
  std::size_t at = w.size();
  w.text(s).u8(0);
  if (w.size() & 1) w.u8(0);
  return at;
}

inline void put_filler(ByteWriter& w, std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> block(n);
  std::uint32_t x = 0x9E3779B9u ^ seed;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    block[i] = static_cast<std::uint8_t>(x >> 24);
  }
  w.raw(block);
}

inline std::vector<Entry> sensor_entries(const RawSpec& s, std::uint32_t offset) {
  return {{256, 4, 1, s.sensorWidth},   {257, 4, 1, s.sensorHeight}, {258, 3, 1, 14},
          {259, 3, 1, 1},               {262, 3, 1, 32803},          {273, 4, 1, offset},
          {277, 3, 1, 1},               {279, 4, 1, static_cast<std::uint32_t>(s.fillerBytes)}};
}

// Little-endian value bytes for the metadata directories.
using Bytes = std::vector<std::uint8_t>;
inline Bytes le(std::initializer_list<std::uint32_t> words, int size) {
  Bytes b;
  for (std::uint32_t v : words)
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return b;
}
inline Bytes ascii(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

struct Field {
  std::uint16_t tag, type;
  std::uint32_t count;
  Bytes value;
};

// Writes a directory at the end of w (which starts at file offset base) and
// its long values after it; returns the directory's file offset and leaves
// the file offsets of the value fields in value_at.
inline std::uint32_t put_dir(ByteWriter& w, std::uint32_t base, const std::vector<Field>& fields,
                             std::vector<std::size_t>* value_at = nullptr) {
  if (w.size() & 1) w.u8(0);
  const auto at = static_cast<std::uint32_t>(base + w.size());
  w.u16(static_cast<std::uint16_t>(fields.size()));
  std::vector<std::size_t> fields_at;
  for (const Field& f : fields) {
    w.u16(f.tag).u16(f.type).u32(f.count);
    fields_at.push_back(w.size());
    Bytes inline_value = f.value.size() <= 4 ? f.value : Bytes{};
    inline_value.resize(4, 0);
    w.raw(inline_value);
  }
  w.u32(0);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].value.size() <= 4) continue;
    if (w.size() & 1) w.u8(0);
    w.put_u32_at(fields_at[i], static_cast<std::uint32_t>(base + w.size()));
    w.raw(fields[i].value);
  }
  if (value_at) *value_at = fields_at;
  return at;
}

constexpr std::size_t kMetadataIfd0Fields = 6;

// The metadata block stored at file offset base: its bytes, and the IFD0
// entries that point into it (sorted by tag).
inline std::pair<Bytes, std::vector<Entry>> metadata_block(std::uint32_t base) {
  ByteWriter w(true);
  const std::string date = "2021:07:04 18:30:05";
  const std::uint32_t date_at = base, artist_at = base + 20, copyright_at = base + 40;
  w.text_fixed(date, 20).text_fixed("Jo Tester", 20).text_fixed("(c) 2021 Jo Tester", 20);
  std::vector<std::size_t> exif_fields;
  const std::uint32_t exif_at = put_dir(
      w, base,
      {{33434, 5, 1, le({1, 250}, 4)},
       {33437, 5, 1, le({56, 10}, 4)},
       {34850, 3, 1, le({3}, 2)},
       {34855, 3, 1, le({400}, 2)},
       {36864, 7, 4, {'0', '2', '3', '1'}},
       {36867, 2, 20, ascii(date)},
       {36868, 2, 20, ascii(date)},
       {36881, 2, 7, ascii("+05:30")},
       {37377, 10, 1, le({7965784, 1000000}, 4)},
       {37380, 10, 1, le({0xFFFFFFFFu, 3}, 4)},
       {37383, 3, 1, le({5}, 2)},
       {37385, 3, 1, le({16}, 2)},
       {37386, 5, 1, le({50, 1}, 4)},
       {37500, 7, 16, {0xFF, 0xFF, 'm', 'a', 'k', 'e', 'r', ' ', 'n', 'o', 't', 'e', 0, 1, 2, 3}},
       {37521, 2, 3, ascii("40")},
       {40961, 3, 1, le({65535}, 2)},
       {40962, 4, 1, le({6000}, 4)},
       {40963, 4, 1, le({4000}, 4)},
       {40965, 4, 1, le({0}, 4)},
       {41987, 3, 1, le({1}, 2)},
       {41989, 3, 1, le({75}, 2)},
       {42033, 2, 8, ascii("2107041")},
       {42034, 5, 4, le({50, 1, 50, 1, 14, 10, 14, 10}, 4)},
       {42035, 2, 10, ascii("Lensmaker")},
       {42036, 2, 14, ascii("Prime 50 f1.4")},
       {42037, 2, 7, ascii("L-0042")}},
      &exif_fields);
  const std::uint32_t interop_at =
      put_dir(w, base, {{1, 2, 4, ascii("R03")}, {2, 7, 4, {'0', '1', '0', '0'}}});
  w.put_u32_at(exif_fields[18], interop_at);
  const std::uint32_t gps_at = put_dir(w, base,
                                       {{0, 1, 4, {2, 3, 0, 0}},
                                        {1, 2, 2, ascii("N")},
                                        {2, 5, 3, le({52, 1, 31, 1, 1234, 100}, 4)},
                                        {3, 2, 2, ascii("E")},
                                        {4, 5, 3, le({13, 1, 24, 1, 5678, 100}, 4)},
                                        {5, 1, 1, {0}},
                                        {6, 5, 1, le({345, 10}, 4)},
                                        {7, 5, 3, le({16, 1, 30, 1, 5, 1}, 4)},
                                        {18, 2, 7, ascii("WGS-84")},
                                        {29, 2, 11, ascii("2021:07:04")}});
  std::vector<Entry> ifd0 = {{274, 3, 1, 6},          {306, 2, 20, date_at},  {315, 2, 20, artist_at},
                             {33432, 2, 20, copyright_at}, {34665, 4, 1, exif_at}, {34853, 4, 1, gps_at}};
  return {std::move(w.bytes()), std::move(ifd0)};
}

// IFD0 entries with the metadata pointers merged in, sorted by tag.
inline std::vector<Entry> with_metadata(std::vector<Entry> entries, const std::vector<Entry>& extra) {
  entries.insert(entries.end(), extra.begin(), extra.end());
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  return entries;
}

}  // namespace detail

// The whole file.
inline std::vector<std::uint8_t> build(const RawSpec& s) {
  using detail::Entry;
  ByteWriter w(true);
  const auto jlen = static_cast<std::uint32_t>(s.jpeg.size());
  const std::uint32_t extra = s.exif ? static_cast<std::uint32_t>(detail::kMetadataIfd0Fields) : 0;
  // The metadata block follows the filler, on an even offset.
  auto metadata_at = [&](std::uint32_t filler_at) {
    return (filler_at + static_cast<std::uint32_t>(s.fillerBytes) + 1) & ~1u;
  };
  std::pair<detail::Bytes, std::vector<detail::Entry>> metadata;
  switch (s.layout) {
    case Layout::kStripJpeg: {
      // The CR2 header: IFD0 at 16, after "CR", version 2.0 and a raw-IFD word.
      w.text("II").u16(42).u32(16).text("CR").u8(2).u8(0).u32(0);
      // IFD0 (6 entries), IFD1 right after (8 entries), then texts.
      const std::uint32_t ifd0 = 16, ifd0_size = 2 + (6 + extra) * 12 + 4;
      const std::uint32_t ifd1 = ifd0 + ifd0_size, ifd1_size = 2 + 8 * 12 + 4;
      const std::uint32_t texts = ifd1 + ifd1_size;
      const std::uint32_t make_at = texts;
      const std::uint32_t model_at = make_at + static_cast<std::uint32_t>((s.make.size() + 2) & ~1u);
      const std::uint32_t jpeg_at = model_at + static_cast<std::uint32_t>((s.model.size() + 2) & ~1u);
      const std::uint32_t filler_at = jpeg_at + ((jlen + 1) & ~1u);
      if (s.exif) metadata = detail::metadata_block(metadata_at(filler_at));
      detail::put_ifd(w,
                      detail::with_metadata({{259, 3, 1, 6},
                                             {271, 2, static_cast<std::uint32_t>(s.make.size() + 1), make_at},
                                             {272, 2, static_cast<std::uint32_t>(s.model.size() + 1), model_at},
                                             {273, 4, 1, jpeg_at},
                                             {277, 3, 1, 3},
                                             {279, 4, 1, jlen}},
                                            metadata.second),
                      ifd1);
      detail::put_ifd(w, detail::sensor_entries(s, filler_at));
      detail::put_text(w, s.make);
      detail::put_text(w, s.model);
      w.raw(s.jpeg);
      if (w.size() & 1) w.u8(0);
      detail::put_filler(w, s.fillerBytes, s.fillerSeed);
      break;
    }
    case Layout::kSubIfdJpeg: {
      w.text("II").u16(42).u32(8);
      const std::uint32_t ifd0 = 8, ifd0_size = 2 + (4 + extra) * 12 + 4;
      const std::uint32_t subs = ifd0 + ifd0_size;  // two LONG offsets
      const std::uint32_t sub_a = subs + 8, sub_a_size = 2 + 3 * 12 + 4;
      const std::uint32_t sub_b = sub_a + sub_a_size, sub_b_size = 2 + 8 * 12 + 4;
      const std::uint32_t make_at = sub_b + sub_b_size;
      const std::uint32_t model_at = make_at + static_cast<std::uint32_t>((s.make.size() + 2) & ~1u);
      const std::uint32_t jpeg_at = model_at + static_cast<std::uint32_t>((s.model.size() + 2) & ~1u);
      const std::uint32_t filler_at = jpeg_at + ((jlen + 1) & ~1u);
      if (s.exif) metadata = detail::metadata_block(metadata_at(filler_at));
      detail::put_ifd(w, detail::with_metadata({{254, 4, 1, 1},
                                                {271, 2, static_cast<std::uint32_t>(s.make.size() + 1), make_at},
                                                {272, 2, static_cast<std::uint32_t>(s.model.size() + 1), model_at},
                                                {330, 4, 2, subs}},
                                               metadata.second));
      w.u32(sub_a).u32(sub_b);
      detail::put_ifd(w, {{259, 3, 1, 6}, {513, 4, 1, jpeg_at}, {514, 4, 1, jlen}});
      detail::put_ifd(w, detail::sensor_entries(s, filler_at));
      detail::put_text(w, s.make);
      detail::put_text(w, s.model);
      w.raw(s.jpeg);
      if (w.size() & 1) w.u8(0);
      detail::put_filler(w, s.fillerBytes, s.fillerSeed);
      break;
    }
    case Layout::kTag46Jpeg: {
      w.text("IIU").u8(0).u32(8);
      const std::uint32_t ifd0 = 8, ifd0_size = 2 + (8 + extra) * 12 + 4;
      const std::uint32_t make_at = ifd0 + ifd0_size;
      const std::uint32_t model_at = make_at + static_cast<std::uint32_t>((s.make.size() + 2) & ~1u);
      const std::uint32_t jpeg_at = model_at + static_cast<std::uint32_t>((s.model.size() + 2) & ~1u);
      const std::uint32_t filler_at = jpeg_at + ((jlen + 1) & ~1u);
      if (s.exif) metadata = detail::metadata_block(metadata_at(filler_at));
      detail::put_ifd(w, detail::with_metadata({{46, 7, jlen, jpeg_at},
                                                {256, 4, 1, s.sensorWidth},
                                                {257, 4, 1, s.sensorHeight},
                                                {258, 3, 1, 12},
                                                {271, 2, static_cast<std::uint32_t>(s.make.size() + 1), make_at},
                                                {272, 2, static_cast<std::uint32_t>(s.model.size() + 1), model_at},
                                                {273, 4, 1, filler_at},
                                                {279, 4, 1, static_cast<std::uint32_t>(s.fillerBytes)}},
                                               metadata.second));
      detail::put_text(w, s.make);
      detail::put_text(w, s.model);
      w.raw(s.jpeg);
      if (w.size() & 1) w.u8(0);
      detail::put_filler(w, s.fillerBytes, s.fillerSeed);
      break;
    }
  }
  if (s.exif) {
    if (w.size() & 1) w.u8(0);
    w.raw(metadata.first);
  }
  return std::move(w.bytes());
}

// JPEG-structured bytes for files whose preview is never decoded: start
// marker, JFIF segment, a 640x480 frame header and a scan header, then
// filler (no 0xFF) and the end marker, n bytes in all.
inline std::vector<std::uint8_t> stand_in_jpeg(std::size_t n) {
  std::vector<std::uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
                                 0xFF, 0xC0, 0, 17, 8, 0x01, 0xE0, 0x02, 0x80, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1,
                                 0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
  while (j.size() + 2 < n) j.push_back(static_cast<std::uint8_t>(j.size() * 7 % 0xFF));
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// A file the preview of which runs past its end: the preview is stored last
// (no sensor data after it) and the file ends `missing` bytes early.
inline std::vector<std::uint8_t> build_cut_short(RawSpec s, std::size_t missing) {
  s.fillerBytes = 0;
  std::vector<std::uint8_t> bytes = build(s);
  bytes.resize(bytes.size() - (missing < s.jpeg.size() ? missing : s.jpeg.size()));
  return bytes;
}

inline bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// True when the JPEG carries its own Exif APP1 right after the SOI marker,
// so the extracted preview comes back byte for byte.
inline bool starts_with_exif(const std::vector<std::uint8_t>& jpeg) {
  return jpeg.size() > 11 && jpeg[2] == 0xFF && jpeg[3] == 0xE1 && jpeg[6] == 'E' && jpeg[7] == 'x' &&
         jpeg[8] == 'i' && jpeg[9] == 'f' && jpeg[10] == 0;
}

// True when the JPEG carries an Exif APP1 among the segments before its scan
// (after a JFIF APP0, say): then it comes back byte for byte too.
inline bool carries_exif(const std::vector<std::uint8_t>& jpeg) {
  std::size_t p = 2;
  while (p + 10 <= jpeg.size() && jpeg[p] == 0xFF && jpeg[p + 1] != 0xDA) {
    if (jpeg[p + 1] == 0xE1 && jpeg[p + 4] == 'E' && jpeg[p + 5] == 'x' && jpeg[p + 6] == 'i' &&
        jpeg[p + 7] == 'f' && jpeg[p + 8] == 0)
      return true;
    p += 2 + ((std::size_t{jpeg[p + 2]} << 8) | jpeg[p + 3]);
  }
  return false;
}

// A JPEG without Exif: the APP1 segment after SOI removed (when present).
inline std::vector<std::uint8_t> strip_leading_exif(const std::vector<std::uint8_t>& jpeg) {
  if (!starts_with_exif(jpeg)) return jpeg;
  std::size_t seg = (std::size_t{jpeg[4]} << 8) | jpeg[5];
  if (4 + seg > jpeg.size()) return jpeg;
  std::vector<std::uint8_t> out = {0xFF, 0xD8};
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(4 + seg), jpeg.end());
  return out;
}

}  // namespace raw_builder

// A TIFF whose Exif directory has the most entries a directory can hold,
// 65,535, each with its value out of line at the end of the file, for
// measuring what the probe reads when a walker must go back and forth
// between a directory and the values it points to. IFD0 holds a small JPEG
// (so there is something to extract) and points at the wide directory once
// through ExifIFD and `extra_pointers` more times through SubIFDs.
#pragma once

#include <cstdint>
#include <vector>

#include "support/byte_writer.h"

namespace wide_directory {

inline constexpr std::uint32_t kEntries = 65535;

inline std::vector<std::uint8_t> build(const std::vector<std::uint8_t>& jpeg, unsigned extra_pointers) {
  ByteWriter w;
  w.text("II").u16(42).u32(8);
  const std::uint16_t ifd0_entries = extra_pointers ? 6 : 5;
  const std::uint32_t ifd0_end = 8 + 2 + 12u * ifd0_entries + 4;
  const std::uint32_t sub_ifds_at = ifd0_end;  // the SubIFDs offsets, when more than one
  const std::uint32_t jpeg_at = sub_ifds_at + 4 * extra_pointers;
  const std::uint32_t exif_at = (jpeg_at + static_cast<std::uint32_t>(jpeg.size()) + 1) & ~1u;
  const std::uint32_t values_at = exif_at + 2 + 12 * kEntries + 4;

  w.u16(ifd0_entries);
  w.u16(0x010F).u16(2).u32(4).text_fixed("Wide", 4);  // Make, inline
  w.u16(0x0112).u16(3).u32(1).u16(1).u16(0);          // Orientation
  if (extra_pointers) {
    w.u16(0x014A).u16(4).u32(extra_pointers).u32(extra_pointers == 1 ? exif_at : sub_ifds_at);
  }
  w.u16(0x0201).u16(4).u32(1).u32(jpeg_at);
  w.u16(0x0202).u16(4).u32(1).u32(static_cast<std::uint32_t>(jpeg.size()));
  w.u16(0x8769).u16(4).u32(1).u32(exif_at);
  w.u32(0);
  if (extra_pointers > 1) {
    for (unsigned i = 0; i < extra_pointers; ++i) w.u32(exif_at);
  }
  w.raw(jpeg).pad_to(exif_at);

  // Values the probe reads, each out of line: ExposureTime, FNumber,
  // DateTimeOriginal, FocalLength, in turn.
  struct Tag {
    std::uint16_t tag, type;
    std::uint32_t count, value_at;
  };
  const Tag tags[] = {{0x829A, 5, 1, values_at},
                      {0x829D, 5, 1, values_at + 8},
                      {0x9003, 2, 20, values_at + 16},
                      {0x920A, 5, 1, values_at + 36}};
  w.u16(static_cast<std::uint16_t>(kEntries));
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    const Tag& t = tags[i % 4];
    w.u16(t.tag).u16(t.type).u32(t.count).u32(t.value_at);
  }
  w.u32(0);
  w.u32(1).u32(100).u32(28).u32(10).text("2026:12:09 10:11:12").u8(0).u32(50).u32(1);
  return w.bytes();
}

}  // namespace wide_directory

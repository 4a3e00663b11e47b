// A valid baseline JPEG of any size up to 65500 x 65500 in a few hundred
// kilobytes, written by hand in no time: three colour components at full
// resolution, every block flat, the picture mid-grey (128, 128, 128). Each
// block codes as two one-bit Huffman codes (DC difference 0, end of block),
// so the scan is all zero bits. For tests of sizes that would take an
// encoder seconds to make.
#pragma once

#include <cstdint>
#include <vector>

namespace flat_jpeg {

inline std::vector<std::uint8_t> mid_grey(int width, int height) {
  std::vector<std::uint8_t> f = {0xFF, 0xD8};
  auto segment = [&](std::uint8_t marker, std::vector<std::uint8_t> body) {
    const std::size_t length = body.size() + 2;
    f.insert(f.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    f.insert(f.end(), body.begin(), body.end());
  };
  std::vector<std::uint8_t> table = {0x00};  // 8-bit table 0, all steps 1
  table.resize(65, 1);
  segment(0xDB, table);
  segment(0xC0, {8, static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
                 static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width), 3,  // components:
                 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0});  // id, sampling 1x1, table 0
  for (std::uint8_t klass : {0x00, 0x10}) {  // DC and AC table 0: one code of one bit, for symbol 0
    std::vector<std::uint8_t> huffman = {klass, 1};
    huffman.resize(17, 0);
    huffman.push_back(0);
    segment(0xC4, huffman);
  }
  segment(0xDA, {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0});
  const std::uint64_t blocks =
      3 * static_cast<std::uint64_t>((width + 7) / 8) * static_cast<std::uint64_t>((height + 7) / 8);
  const std::uint64_t bits = blocks * 2;
  f.resize(f.size() + static_cast<std::size_t>(bits / 8), 0x00);
  if (bits % 8) f.push_back(static_cast<std::uint8_t>(0xFF >> (bits % 8)));  // padded with one bits
  f.insert(f.end(), {0xFF, 0xD9});
  return f;
}

}  // namespace flat_jpeg

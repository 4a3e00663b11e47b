// The streaming resampler on synthetic rows: exact where exactness is owed
// (a flat picture stays flat, the vector code matches the plain code), for
// shrinking, enlarging, identity axes and sizes down to one pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ui/resample.h"

namespace {

struct Size {
  std::int32_t in_w, in_h, out_w, out_h;
};

const Size kSizes[] = {
    {640, 480, 213, 160},  // the job's case: a shrink by 2 to 4
    {37, 23, 8, 5},        {100, 80, 33, 29}, {5, 3, 17, 11},  // enlarging
    {1, 1, 3, 2},          {2, 1, 1, 1},      {7, 9, 7, 4},    // an identity axis
    {3000, 2, 11, 1},      // kernels far wider than the image
};

std::string Name(const Size& s) {
  return std::to_string(s.in_w) + "x" + std::to_string(s.in_h) + " -> " + std::to_string(s.out_w) + "x" +
         std::to_string(s.out_h);
}

std::vector<std::uint8_t> Resample(const Size& s, int channels, const std::vector<std::uint8_t>& in) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(s.out_w) * static_cast<std::size_t>(s.out_h) *
                                    static_cast<std::size_t>(channels),
                                0xEE);
  RowResampler r;
  EXPECT_TRUE(r.Start(s.in_w, s.in_h, s.out_w, s.out_h, channels, out.data()));
  const std::size_t stride = static_cast<std::size_t>(s.in_w) * static_cast<std::size_t>(channels);
  for (std::int32_t y = 0; y < s.in_h; ++y) {
    EXPECT_FALSE(r.Finished());
    r.PushRow(in.data() + stride * static_cast<std::size_t>(y));
  }
  EXPECT_TRUE(r.Finished());
  return out;
}

// The weights of every window sum to exactly one, cut windows at the edges
// included, so a flat picture comes out with the same value everywhere.
TEST(ResampleTest, FlatPicturesStayExactlyFlat) {
  for (const Size& s : kSizes) {
    for (int channels : {1, 4}) {
      SCOPED_TRACE(Name(s) + ", " + std::to_string(channels) + " channels");
      for (std::uint8_t value : {0, 1, 137, 254, 255}) {
        const std::vector<std::uint8_t> in(static_cast<std::size_t>(s.in_w) * static_cast<std::size_t>(s.in_h) *
                                               static_cast<std::size_t>(channels),
                                           value);
        const auto out = Resample(s, channels, in);
        for (std::uint8_t v : out) ASSERT_EQ(v, value);
      }
    }
  }
}

// Four-channel rows take the vector path, one-channel rows the plain one;
// on the same values they must agree to the byte, channel by channel.
TEST(ResampleTest, FourChannelPathMatchesTheOneChannelPath) {
  std::mt19937 random(7);
  for (const Size& s : kSizes) {
    SCOPED_TRACE(Name(s));
    const std::size_t in_pixels = static_cast<std::size_t>(s.in_w) * static_cast<std::size_t>(s.in_h);
    std::vector<std::uint8_t> packed(in_pixels * 4);
    for (auto& b : packed) b = static_cast<std::uint8_t>(random() % 256);  // noise: every edge overshoots
    const auto four = Resample(s, 4, packed);
    for (int c = 0; c < 4; ++c) {
      std::vector<std::uint8_t> plane(in_pixels);
      for (std::size_t i = 0; i < in_pixels; ++i) plane[i] = packed[i * 4 + static_cast<std::size_t>(c)];
      const auto one = Resample(s, 1, plane);
      for (std::size_t i = 0; i < one.size(); ++i)
        ASSERT_EQ(one[i], four[i * 4 + static_cast<std::size_t>(c)]) << "channel " << c << ", pixel " << i;
    }
  }
}

}  // namespace

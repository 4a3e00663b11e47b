#include "ui/resample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Lobes of the Lanczos kernel on each side of its centre.
constexpr double kLobes = 3.0;
constexpr double kPi = 3.14159265358979323846;
// Fractional bits of the horizontal results: with weights of 14 bits, the
// horizontal sums are shifted right by 8; the vertical sums, of 6 + 14
// fractional bits, by 20. Kernel overshoot keeps the horizontal results
// within 16 bits: 255 x 64 x (at most 2 for the sum of |weights|) < 2^15.
constexpr int kRowFractionBits = 6;
constexpr int kRowShift = RowResampler::kWeightBits - kRowFractionBits;
constexpr int kOutShift = RowResampler::kWeightBits + kRowFractionBits;
// Largest sum of |weights| accepted for one window, in units of one; a
// window that cancels itself out (only possible for a source of one or two
// samples) falls back to the nearest sample.
constexpr double kMaxAbsoluteWeightSum = 2.0;

double Sinc(double x) {
  if (x == 0.0) return 1.0;
  const double px = kPi * x;
  return std::sin(px) / px;
}

double Lanczos3(double x) {
  x = std::fabs(x);
  return x < kLobes ? Sinc(x) * Sinc(x / kLobes) : 0.0;
}

std::int16_t SaturateToInt16(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp(v, std::int32_t{-32768}, std::int32_t{32767}));
}

// Two adjacent 16-bit weights as one 32-bit lane (first in the low half),
// the operand layout of a multiply-add of 16-bit pairs.
std::int32_t WeightPair(std::int16_t first, std::int16_t second) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(first)) |
                                   static_cast<std::uint32_t>(static_cast<std::uint16_t>(second)) << 16);
}

// Horizontal pass: each result pixel is a weighted sum of `taps`
// consecutive source pixels of C channels.
template <int C>
void FilterRowPlain(const std::uint8_t* src, const RowResampler::Axis& axis, std::int32_t out_width,
                    std::int16_t* dst) {
  const int taps = axis.taps;
  for (std::int32_t x = 0; x < out_width; ++x) {
    const std::int16_t* w = axis.weights.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(taps);
    const std::uint8_t* s = src + static_cast<std::size_t>(axis.first[static_cast<std::size_t>(x)]) * C;
    for (int c = 0; c < C; ++c) {
      std::int32_t acc = 1 << (kRowShift - 1);
      for (int k = 0; k < taps; ++k) acc += w[k] * s[k * C + c];
      dst[static_cast<std::size_t>(x) * C + static_cast<std::size_t>(c)] = SaturateToInt16(acc >> kRowShift);
    }
  }
}

#if defined(__SSE2__)
// The four-channel horizontal pass, two taps per step: the channels of two
// neighbouring pixels are interleaved (r0 r1 g0 g1 ...) and multiplied-and-
// added with the pair of weights in one instruction. `pairs` holds each
// window's weight pairs already repeated across a vector (PairedWeights).
void FilterRow4(const std::uint8_t* src, const RowResampler::Axis& axis, const std::int32_t* pairs,
                std::int32_t out_width, std::int16_t* dst) {
  const int taps = axis.taps;
  const int steps = (taps + 1) / 2;
  const __m128i zero = _mm_setzero_si128();
  const __m128i rounding = _mm_set1_epi32(1 << (kRowShift - 1));
  auto step = [&](__m128i acc, __m128i pixels, const std::int32_t* weights) {
    const __m128i interleaved = _mm_unpacklo_epi8(pixels, _mm_srli_si128(pixels, 4));
    return _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi8(interleaved, zero),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights))));
  };
  for (std::int32_t x = 0; x < out_width; ++x, pairs += 4 * steps) {
    const std::uint8_t* s = src + static_cast<std::size_t>(axis.first[static_cast<std::size_t>(x)]) * 4;
    __m128i acc = rounding;
    int k = 0;
    for (; k + 1 < taps; k += 2)
      acc = step(acc, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 4 * k)), pairs + 2 * k);
    if (k < taps) {  // an odd last tap: one pixel, paired with zeros
      std::int32_t one;
      std::memcpy(&one, s + 4 * k, 4);
      acc = step(acc, _mm_cvtsi32_si128(one), pairs + 2 * k);
    }
    acc = _mm_srai_epi32(acc, kRowShift);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + static_cast<std::size_t>(x) * 4), _mm_packs_epi32(acc, acc));
  }
}

// The weights of an axis as the vector pass reads them: for every window,
// each pair of neighbouring weights (the last one paired with 0 when the
// count is odd) as one 32-bit lane, repeated four times.
std::vector<std::int32_t> PairedWeights(const RowResampler::Axis& axis, std::int32_t out_size) {
  const int taps = axis.taps;
  std::vector<std::int32_t> pairs;
  pairs.reserve(static_cast<std::size_t>(out_size) * static_cast<std::size_t>((taps + 1) / 2) * 4);
  for (std::int32_t x = 0; x < out_size; ++x) {
    const std::int16_t* w = axis.weights.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(taps);
    for (int k = 0; k < taps; k += 2) pairs.insert(pairs.end(), 4, WeightPair(w[k], k + 1 < taps ? w[k + 1] : 0));
  }
  return pairs;
}
#endif

// Vertical pass: value i of the result row is the weighted sum of value i
// of `taps` filtered rows, rounded and clamped to a byte.
void FilterColumns(const std::int16_t* const* rows, const std::int16_t* w, int taps, std::size_t count,
                   std::uint8_t* dst) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i rounding = _mm_set1_epi32(1 << (kOutShift - 1));
  for (; i + 8 <= count; i += 8) {
    __m128i lo = rounding, hi = rounding;
    for (int k = 0; k < taps; k += 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const bool pair = k + 1 < taps;
      const __m128i b =
          pair ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i)) : _mm_setzero_si128();
      const __m128i weights = _mm_set1_epi32(WeightPair(w[k], pair ? w[k + 1] : 0));
      lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights));
      hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights));
    }
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(lo, kOutShift), _mm_srai_epi32(hi, kOutShift));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(words, words));
  }
#endif
  for (; i < count; ++i) {
    std::int32_t acc = 1 << (kOutShift - 1);
    for (int k = 0; k < taps; ++k) acc += w[k] * rows[k][i];
    dst[i] = static_cast<std::uint8_t>(std::clamp(acc >> kOutShift, 0, 255));
  }
}

}  // namespace

bool RowResampler::MakeAxis(std::int32_t in_size, std::int32_t out_size, Axis& axis) {
  if (in_size <= 0 || out_size <= 0) return false;
  const auto count = static_cast<std::size_t>(out_size);
  if (in_size == out_size) {  // the identity: one tap of weight one
    axis.taps = 1;
    axis.first.resize(count);
    axis.weights.assign(count, static_cast<std::int16_t>(kWeightOne));
    for (std::size_t i = 0; i < count; ++i) axis.first[i] = static_cast<std::int32_t>(i);
    return true;
  }
  const double scale = static_cast<double>(in_size) / out_size;
  const double stretch = std::max(scale, 1.0);
  const double support = kLobes * stretch;
  // Every window spans at most this many source samples; all windows get
  // the same width (zero weights pad the short ones) so that the inner
  // loops have one trip count.
  axis.taps = static_cast<int>(std::min<double>(in_size, std::ceil(2.0 * support) + 1.0));
  const auto taps = static_cast<std::size_t>(axis.taps);
  axis.first.resize(count);
  axis.weights.assign(count * taps, 0);
  std::vector<double> w(taps);
  for (std::size_t i = 0; i < count; ++i) {
    const double centre = (static_cast<double>(i) + 0.5) * scale;
    const auto lo = static_cast<std::int32_t>(std::max(0.0, std::floor(centre - support)));
    const auto hi = static_cast<std::int32_t>(std::min<double>(in_size, std::ceil(centre + support)));
    const std::int32_t first = std::min(lo, in_size - axis.taps);
    const auto offset = static_cast<std::size_t>(lo - first);
    double sum = 0.0, absolute = 0.0;
    std::fill(w.begin(), w.end(), 0.0);
    for (std::int32_t j = lo; j < hi && offset + static_cast<std::size_t>(j - lo) < taps; ++j) {
      const double v = Lanczos3((j + 0.5 - centre) / stretch);
      w[offset + static_cast<std::size_t>(j - lo)] = v;
      sum += v;
      absolute += std::fabs(v);
    }
    axis.first[i] = first;
    std::int16_t* out = axis.weights.data() + i * taps;
    if (sum > 0.0 && absolute / sum <= kMaxAbsoluteWeightSum) {
      // Rounded to fixed point; the largest weight takes the rounding error
      // so that the weights sum to exactly one.
      std::int32_t total = 0;
      std::size_t largest = 0;
      for (std::size_t k = 0; k < taps; ++k) {
        out[k] = static_cast<std::int16_t>(std::lround(w[k] / sum * kWeightOne));
        total += out[k];
        if (out[k] > out[largest]) largest = k;
      }
      out[largest] = static_cast<std::int16_t>(out[largest] + (kWeightOne - total));
    } else {
      const auto nearest = std::clamp(static_cast<std::int32_t>(centre), first, first + axis.taps - 1);
      out[nearest - first] = static_cast<std::int16_t>(kWeightOne);
    }
  }
  return true;
}

bool RowResampler::Start(std::int32_t in_width, std::int32_t in_height, std::int32_t out_width,
                         std::int32_t out_height, int channels, std::uint8_t* out) {
  if (channels != 1 && channels != 4) return false;
  try {
    if (!MakeAxis(in_width, out_width, x_) || !MakeAxis(in_height, out_height, y_)) return false;
    ring_.assign(static_cast<std::size_t>(out_width) * static_cast<std::size_t>(channels) *
                     static_cast<std::size_t>(y_.taps),
                 0);
    window_.resize(static_cast<std::size_t>(y_.taps));
#if defined(__SSE2__)
    if (channels == 4) x_pairs_ = PairedWeights(x_, out_width);
#endif
  } catch (const std::bad_alloc&) {
    return false;
  }
  in_width_ = in_width;
  in_height_ = in_height;
  out_width_ = out_width;
  out_height_ = out_height;
  channels_ = channels;
  out_ = out;
  rows_in_ = 0;
  next_out_ = 0;
  return true;
}

void RowResampler::PushRow(const std::uint8_t* row) {
  if (rows_in_ >= in_height_) return;
  const std::size_t out_row = static_cast<std::size_t>(out_width_) * static_cast<std::size_t>(channels_);
  std::int16_t* slot = ring_.data() + static_cast<std::size_t>(rows_in_ % y_.taps) * out_row;
  if (channels_ == 1) {
    FilterRowPlain<1>(row, x_, out_width_, slot);
  } else {
#if defined(__SSE2__)
    FilterRow4(row, x_, x_pairs_.data(), out_width_, slot);
#else
    FilterRowPlain<4>(row, x_, out_width_, slot);
#endif
  }
  ++rows_in_;
  EmitReadyRows();
}

void RowResampler::EmitReadyRows() {
  const std::size_t row = static_cast<std::size_t>(out_width_) * static_cast<std::size_t>(channels_);
  const int taps = y_.taps;
  const std::int16_t** rows = window_.data();
  // Output row y needs source rows first[y] .. first[y] + taps - 1; the ring
  // holds the last `taps` rows pushed, which always include them.
  while (next_out_ < out_height_ && y_.first[static_cast<std::size_t>(next_out_)] + taps <= rows_in_) {
    const std::int32_t first = y_.first[static_cast<std::size_t>(next_out_)];
    for (int k = 0; k < taps; ++k)
      rows[static_cast<std::size_t>(k)] = ring_.data() + static_cast<std::size_t>((first + k) % taps) * row;
    FilterColumns(rows, y_.weights.data() + static_cast<std::size_t>(next_out_) * static_cast<std::size_t>(taps),
                  taps, row, out_ + static_cast<std::size_t>(next_out_) * row);
    ++next_out_;
  }
}

// A two-pass separable Lanczos-3 resampler that works on a stream of rows:
// each source row is filtered horizontally as it arrives and kept in a ring
// of as many rows as the vertical kernel spans, and every row of the result
// is made as soon as the source rows it needs are in. Memory is the result
// plus a few rows, whatever the size of the source.
//
// Shrinking, the kernel is stretched by the scale factor (it then also
// removes detail finer than the new pixel grid); enlarging, it interpolates.
// Pixel centres sit at (i + 0.5); the kernel is cut off at the image edges
// and the remaining weights renormalised.
//
// Arithmetic is fixed-point: weights of 14 fractional bits summing exactly
// to one, horizontal results kept with 6 fractional bits, so the vector
// code and the plain code give the same bytes.
#pragma once

#include <cstdint>
#include <vector>

class RowResampler {
 public:
  // Channels per pixel: 1 (grey) or 4 (RGBX, CMYK), interleaved bytes.
  // The result, out_width x out_height pixels, goes to out (which must hold
  // out_width * out_height * channels bytes and stay valid until Finished).
  // False when a size is not positive or memory runs out.
  bool Start(std::int32_t in_width, std::int32_t in_height, std::int32_t out_width, std::int32_t out_height,
             int channels, std::uint8_t* out);

  // Takes the next source row (in_width * channels bytes), top to bottom.
  void PushRow(const std::uint8_t* row);

  // Every result row is written once every source row has been pushed.
  bool Finished() const { return next_out_ == out_height_; }

  // Kernel weights of one axis: output i takes `taps` source samples from
  // first[i] on, with weights[i * taps ...] (fixed-point, summing to
  // kWeightOne; zeros pad the windows cut by an edge).
  struct Axis {
    int taps = 0;
    std::vector<std::int32_t> first;
    std::vector<std::int16_t> weights;
  };
  static constexpr int kWeightBits = 14;
  static constexpr int kWeightOne = 1 << kWeightBits;
  static bool MakeAxis(std::int32_t in_size, std::int32_t out_size, Axis& axis);

 private:
  void EmitReadyRows();

  std::int32_t in_width_ = 0, in_height_ = 0, out_width_ = 0, out_height_ = 0;
  int channels_ = 0;
  std::uint8_t* out_ = nullptr;
  Axis x_, y_;
  std::vector<std::int16_t> ring_;             // y_.taps horizontally filtered rows
  std::vector<const std::int16_t*> window_;  // the ring's rows in the order of a window
  std::vector<std::int32_t> x_pairs_;        // x_'s weights laid out for the vector pass
  std::int32_t rows_in_ = 0, next_out_ = 0;
};

#include "ui/fit_within.h"

#include <limits>

namespace {

// Product with 32-bit wrap-around, as plain 32-bit arithmetic gives, but
// without the undefined behaviour of a signed overflow.
std::int32_t Multiply32(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// Quotient truncated toward zero; the one overflowing case wraps as well.
std::int32_t Divide32(std::int32_t a, std::int32_t b) {
  if (b == -1) return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
  return a / b;
}

}  // namespace

void FitWithin(std::int32_t width, std::int32_t height, std::int32_t maxWidth, std::int32_t maxHeight,
               std::int32_t& newWidth, std::int32_t& newHeight) {
  if (width == 0 || height == 0) return;
  std::int32_t fittedHeight = Divide32(Multiply32(height, maxWidth), width);
  if (fittedHeight > maxHeight) {
    newWidth = Divide32(Multiply32(width, maxHeight), height);
    newHeight = maxHeight;
  } else {
    newWidth = maxWidth;
    newHeight = fittedHeight;
  }
}

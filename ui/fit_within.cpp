#include "ui/fit_within.h"

#include <algorithm>

void FitWithin(std::int32_t width, std::int32_t height, std::int32_t maxWidth, std::int32_t maxHeight,
               std::int32_t& newWidth, std::int32_t& newHeight) {
  if (width == 0 || height == 0) return;
  // Products of two 32-bit values fit in 64 bits. When the height fit is
  // taken, the width it gives is below maxWidth, so both results fit in 32
  // bits; clamping to 1 keeps an extreme aspect ratio from giving a side of
  // 0 (or a negative one from a negative box).
  const std::int64_t w = width, h = height, mw = maxWidth, mh = maxHeight;
  std::int64_t fittedWidth = mw, fittedHeight = h * mw / w;
  if (fittedHeight > mh) {
    fittedWidth = w * mh / h;
    fittedHeight = mh;
  }
  newWidth = static_cast<std::int32_t>(std::clamp<std::int64_t>(fittedWidth, 1, INT32_MAX));
  newHeight = static_cast<std::int32_t>(std::clamp<std::int64_t>(fittedHeight, 1, INT32_MAX));
}

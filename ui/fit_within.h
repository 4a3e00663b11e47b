// The size of the same proportions that fits a bounding box.
#pragma once

#include <cstdint>

// 32-bit integer arithmetic, divisions truncating toward zero. The width is
// fitted first: newHeight = height * maxWidth / width; only when that exceeds
// maxHeight is the height fitted instead (newWidth = width * maxHeight /
// height, newHeight = maxHeight). A width or height of 0 leaves the outputs
// untouched.
void FitWithin(std::int32_t width, std::int32_t height, std::int32_t maxWidth, std::int32_t maxHeight,
               std::int32_t& newWidth, std::int32_t& newHeight);

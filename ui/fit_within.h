// The size of the same proportions that fits a bounding box.
#pragma once

#include <cstdint>

// Divisions truncating toward zero, computed in 64 bits. The width is
// fitted first: newHeight = height * maxWidth / width; only when that exceeds
// maxHeight is the height fitted instead (newWidth = width * maxHeight /
// height, newHeight = maxHeight). No side comes out below 1. A width or
// height of 0 leaves the outputs untouched.
void FitWithin(std::int32_t width, std::int32_t height, std::int32_t maxWidth, std::int32_t maxHeight,
               std::int32_t& newWidth, std::int32_t& newHeight);

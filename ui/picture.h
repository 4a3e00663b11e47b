// An image holder for making scaled JPEG copies: load a JPEG, learn its size,
// resample it to a new size and save it as JPEG with every metadata segment
// of the source carried over unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/native_path.h"

class Picture {
 public:
  Picture();
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  // Releases any current image, then reads the file and its JPEG header.
  // False, with width and height 0, when the file cannot be read or is not a
  // JPEG of acceptable size. The file is not kept open.
  bool LoadFromFile(const NativePath& path);

  // The same for a JPEG file held in memory; the bytes are copied.
  bool LoadFromMemory(const void* data, std::size_t length);

  // Replaces the image by one of exactly width x height pixels showing the
  // old image stretched over it, keeping the source's metadata segments.
  // On failure (corrupt data, sizes out of range) the image is released and
  // width and height become 0, so a following SaveAs writes nothing.
  void ScaleTo(std::int32_t width, std::int32_t height);

  // Encodes as JPEG at quality = (int)(quality * 100) and replaces the file
  // at path atomically. Writes nothing and returns false when mimeType is
  // not exactly u"image/jpeg", when there is no image, or on any failure.
  // Saving an image that was loaded but not scaled re-encodes it at its size.
  bool SaveAs(const NativePath& path, const std::u16string& mimeType, float quality);

  // Encodes as SaveAs does into out instead of a file; out is empty when
  // this returns false.
  bool SaveToMemory(const std::u16string& mimeType, float quality, std::vector<std::uint8_t>& out);

  // Drops the image; width and height become 0.
  void Release();

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  bool empty() const { return impl_ == nullptr; }

  // The components (1 grey, 3 RGB or 4 CMYK) of pixel (x, y) of the image
  // after ScaleTo; false before it or outside the image.
  bool PixelAt(std::int32_t x, std::int32_t y, std::uint8_t components[4], int& count) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

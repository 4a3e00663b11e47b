// Picture backed by the GDI+ flat interface. GDI+ must already be running
// (the Dialog base keeps it started while any dialog object lives). A loaded
// image keeps its file (or memory stream) until it is disposed of; ScaleTo
// disposes of the loaded image, so a scaled picture can be saved over the
// file it came from.
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "platform/atomic_write.h"
#include "shell/com_ptr.h"
#include "ui/picture.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::Ok;

using veltrano::shell::ComPtr;

struct Picture::Impl {
  GpImage* image = nullptr;
  ComPtr<IStream> stream;  // what an image loaded from memory reads, for as long as it lives
  bool scaled = false;     // the image is the bitmap made by ScaleTo

  ~Impl() {
    if (image) gp::GdipDisposeImage(image);
  }
};

namespace {

// The JPEG encoder's quality parameter.
const GUID kEncoderQuality = {0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};
// GDI+ cannot draw into indexed bitmaps; scaled copies of such images are
// made in 24-bit RGB instead.
constexpr Gdiplus::PixelFormat kIndexedFlag = 0x00010000;

// A block from the C runtime heap, freed on scope exit.
class HeapBlock {
 public:
  explicit HeapBlock(std::size_t size) : p_(size ? std::malloc(size) : nullptr) {}
  ~HeapBlock() { std::free(p_); }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  template <typename T>
  T* as() const {
    return static_cast<T*>(p_);
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  void* p_;
};

// Class id of the first encoder whose MIME type equals mimeType exactly.
bool FindEncoder(const std::wstring& mimeType, CLSID& clsid) {
  UINT count = 0, size = 0;
  if (gp::GdipGetImageEncodersSize(&count, &size) != Ok || size == 0) return false;
  HeapBlock buffer(size);
  if (!buffer) return false;
  auto* codecs = buffer.as<Gdiplus::ImageCodecInfo>();
  if (gp::GdipGetImageEncoders(count, size, codecs) != Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && mimeType == codecs[i].MimeType) {
      clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

// A loaded image with its size, or null when the library could not load it
// or it has no pixels.
std::unique_ptr<Picture::Impl> Adopt(GpImage* image, ComPtr<IStream> stream, std::int32_t& width,
                                     std::int32_t& height) {
  if (image == nullptr) return nullptr;
  UINT w = 0, h = 0;
  gp::GdipGetImageWidth(image, &w);
  gp::GdipGetImageHeight(image, &h);
  if (w == 0 || h == 0 || w > INT_MAX || h > INT_MAX) {
    gp::GdipDisposeImage(image);
    return nullptr;
  }
  auto impl = std::make_unique<Picture::Impl>();
  impl->image = image;
  impl->stream = std::move(stream);
  width = static_cast<std::int32_t>(w);
  height = static_cast<std::int32_t>(h);
  return impl;
}

}  // namespace

Picture::Picture() = default;

Picture::~Picture() { Release(); }

void Picture::Release() {
  impl_.reset();
  width_ = 0;
  height_ = 0;
}

bool Picture::LoadFromFile(const NativePath& path) {
  Release();
  GpImage* image = nullptr;
  if (gp::GdipLoadImageFromFile(path.c_str(), &image) != Ok) return false;
  impl_ = Adopt(image, ComPtr<IStream>(), width_, height_);
  return impl_ != nullptr;
}

bool Picture::LoadFromMemory(const void* data, std::size_t length) {
  Release();
  if (data == nullptr || length == 0 || length > UINT_MAX) return false;
  ComPtr<IStream> stream(SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(length)));
  GpImage* image = nullptr;
  if (!stream || gp::GdipLoadImageFromStream(stream.Get(), &image) != Ok) return false;
  impl_ = Adopt(image, std::move(stream), width_, height_);
  return impl_ != nullptr;
}

void Picture::ScaleTo(std::int32_t width, std::int32_t height) {
  if (!impl_ || width <= 0 || height <= 0) {
    Release();
    return;
  }
  GpImage* old = impl_->image;

  // 1. A new bitmap of the requested size in the source's pixel format.
  Gdiplus::PixelFormat format = PixelFormat24bppRGB;
  gp::GdipGetImagePixelFormat(old, &format);
  if (format & kIndexedFlag) format = PixelFormat24bppRGB;
  GpBitmap* bitmap = nullptr;
  if (gp::GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap) != Ok || bitmap == nullptr) {
    Release();
    return;
  }

  // 2. The old image stretched over it, high-quality bicubic.
  GpGraphics* graphics = nullptr;
  if (gp::GdipGetImageGraphicsContext(bitmap, &graphics) == Ok && graphics) {
    gp::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
    gp::GdipDrawImageRectI(graphics, old, 0, 0, width, height);
  }

  // 3. Every property item of the source, unchanged and in order.
  UINT totalSize = 0, count = 0;
  if (gp::GdipGetPropertySize(old, &totalSize, &count) == Ok && count > 0 && totalSize > 0) {
    HeapBlock buffer(totalSize);
    if (buffer) {
      auto* items = buffer.as<Gdiplus::PropertyItem>();
      if (gp::GdipGetAllPropertyItems(old, totalSize, count, items) == Ok)
        for (UINT i = 0; i < count; ++i) gp::GdipSetPropertyItem(bitmap, &items[i]);
    }
  }

  // 4. The new bitmap replaces the old image, which lets go of its file or
  // stream.
  gp::GdipDisposeImage(old);
  impl_->stream.Reset();
  impl_->image = bitmap;
  impl_->scaled = true;
  width_ = width;
  height_ = height;
  if (graphics) gp::GdipDeleteGraphics(graphics);
}

bool Picture::SaveToMemory(const std::u16string& mimeType, float quality, std::vector<std::uint8_t>& out) {
  out.clear();
  if (!impl_) return false;
  CLSID encoder;
  if (!FindEncoder(std::wstring(mimeType.begin(), mimeType.end()), encoder)) return false;

  ULONG value = static_cast<ULONG>(static_cast<float>(quality * 100.0f));
  Gdiplus::EncoderParameters parameters;
  parameters.Count = 1;
  parameters.Parameter[0].Guid = kEncoderQuality;
  parameters.Parameter[0].NumberOfValues = 1;
  parameters.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
  parameters.Parameter[0].Value = &value;

  // Encoded into a memory stream, then copied out of it.
  ComPtr<IStream> stream(SHCreateMemStream(nullptr, 0));
  if (!stream || gp::GdipSaveImageToStream(impl_->image, stream.Get(), &encoder, &parameters) != Ok) return false;
  STATSTG stat{};
  const LARGE_INTEGER start{};
  if (stream->Stat(&stat, STATFLAG_NONAME) != S_OK || stat.cbSize.QuadPart == 0 ||
      stat.cbSize.QuadPart > ULONG_MAX || stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK)
    return false;
  try {
    out.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
  } catch (const std::bad_alloc&) {
    return false;
  }
  ULONG got = 0;
  if (stream->Read(out.data(), static_cast<ULONG>(out.size()), &got) != S_OK || got != out.size()) {
    out.clear();
    return false;
  }
  return true;
}

bool Picture::SaveAs(const NativePath& path, const std::u16string& mimeType, float quality) {
  // Encoded in memory and written to the target atomically, so a failure
  // leaves the old file (or none) and no temporary behind.
  std::vector<std::uint8_t> encoded;
  return SaveToMemory(mimeType, quality, encoded) && ReplaceFileAtomically(path, encoded.data(), encoded.size());
}

bool Picture::PixelAt(std::int32_t x, std::int32_t y, std::uint8_t components[4], int& count) const {
  if (!impl_ || !impl_->scaled || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  Gdiplus::ARGB argb = 0;
  if (gp::GdipBitmapGetPixel(static_cast<GpBitmap*>(impl_->image), x, y, &argb) != Ok) return false;
  components[0] = static_cast<std::uint8_t>(argb >> 16);
  components[1] = static_cast<std::uint8_t>(argb >> 8);
  components[2] = static_cast<std::uint8_t>(argb);
  components[3] = 0;
  count = 3;
  return true;
}

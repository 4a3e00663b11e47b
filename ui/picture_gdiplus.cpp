// Picture backed by the GDI+ flat interface. GDI+ must already be running
// (the Dialog base keeps it started while any dialog object lives). A loaded
// image keeps its file open until it is disposed of; ScaleTo disposes of the
// loaded image, so a scaled picture can be saved over the file it came from.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/temp_names.h"
#include "ui/picture.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::Ok;

struct Picture::Impl {
  GpImage* image = nullptr;
  bool scaled = false;  // the image is the bitmap made by ScaleTo

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
  if (gp::GdipLoadImageFromFile(path.c_str(), &image) != Ok || image == nullptr) return false;
  UINT w = 0, h = 0;
  gp::GdipGetImageWidth(image, &w);
  gp::GdipGetImageHeight(image, &h);
  if (w == 0 || h == 0) {
    gp::GdipDisposeImage(image);
    return false;
  }
  impl_ = std::make_unique<Impl>();
  impl_->image = image;
  width_ = static_cast<std::int32_t>(w);
  height_ = static_cast<std::int32_t>(h);
  return true;
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

  // 4. The new bitmap replaces the old image, which lets go of its file.
  gp::GdipDisposeImage(old);
  impl_->image = bitmap;
  impl_->scaled = true;
  width_ = width;
  height_ = height;
  if (graphics) gp::GdipDeleteGraphics(graphics);
}

bool Picture::SaveAs(const NativePath& path, const std::u16string& mimeType, float quality) {
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

  // Written beside the target first and moved over it only when complete.
  const std::wstring temp = TemporaryPathBeside(path);
  if (gp::GdipSaveImageToFile(impl_->image, temp.c_str(), &encoder, &parameters) != Ok) {
    DeleteFileW(temp.c_str());
    return false;
  }
  if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
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

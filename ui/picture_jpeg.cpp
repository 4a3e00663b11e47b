// Picture backed by libjpeg-turbo (decoding and encoding) and pixman
// (resampling). libjpeg reports fatal errors through error_exit, which here
// jumps back with longjmp to the function that set up the codec; those
// functions keep no C++ objects with destructors in the jumped-over range.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>
#include <pixman.h>

#include "platform/atomic_write.h"
#include "platform/native_file.h"
#include "ui/picture.h"

namespace {

// Largest JPEG file read into memory; camera previews are a few megabytes.
constexpr std::int64_t kMaxJpegFileBytes = std::int64_t{256} << 20;
// Largest decoded image (width x height x components) accepted, guarding
// against tiny files that declare huge images.
constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{1} << 28;
// Pixels are packed four bytes each for resampling.
constexpr std::uint64_t kPackedPixelBytes = 4;
// Size of the chunks in which the encoder's output is collected.
constexpr std::size_t kOutputChunkBytes = 64 * 1024;
// Filter phases per pixel of the resampling kernel, as a power of two.
constexpr int kFilterSubsampleBits = 4;
// libjpeg can decode at n/8 of the full size, n = 1..8.
constexpr int kDctScaleDenominator = 8;
// Encoders use at most a few dozen progressive scans; files with thousands
// of tiny scans only serve to make decoding take very long.
constexpr int kMaxProgressiveScans = 500;

struct Marker {
  int code;  // JPEG_APP0 + n or JPEG_COM
  std::vector<std::uint8_t> data;
};

struct JumpingErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void ExitByJump(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JumpingErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// Warnings that mean the image data is damaged: the decode is abandoned
// rather than producing a picture with grey or garbled areas.
void StopOnCorruptData(j_common_ptr cinfo, int msg_level) {
  if (msg_level >= 0) return;  // trace messages
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
      ExitByJump(cinfo);
    default:
      break;
  }
}

void Silent(j_common_ptr) {}

void LimitScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxProgressiveScans)
    ExitByJump(cinfo);
}

void InstallErrorManager(JumpingErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ExitByJump;
  err.pub.emit_message = StopOnCorruptData;
  err.pub.output_message = Silent;
}

bool WithinDecodeLimit(std::uint64_t width, std::uint64_t height, std::uint64_t bytes_per_pixel) {
  // Each factor is below 2^32, so the products below cannot overflow.
  if (width == 0 || height == 0 || width > 0xFFFFFFFFu || height > 0xFFFFFFFFu) return false;
  std::uint64_t pixels = width * height;
  return pixels <= kMaxDecodedBytes / bytes_per_pixel;
}

struct HeaderInfo {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<Marker> markers;
};

// Reads the header and the metadata segments. False on anything that is not
// a complete JPEG header.
bool ReadHeader(const std::vector<std::uint8_t>& file, HeaderInfo& info) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JumpingErrorManager err;
  InstallErrorManager(err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF);
  for (int n = 0; n < 16; ++n) jpeg_save_markers(&cinfo, JPEG_APP0 + n, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  bool ok = WithinDecodeLimit(cinfo.image_width, cinfo.image_height, static_cast<unsigned>(cinfo.num_components)) &&
            cinfo.image_width <= static_cast<unsigned>(std::numeric_limits<std::int32_t>::max()) &&
            cinfo.image_height <= static_cast<unsigned>(std::numeric_limits<std::int32_t>::max());
  if (ok) {
    try {
      info.width = static_cast<std::int32_t>(cinfo.image_width);
      info.height = static_cast<std::int32_t>(cinfo.image_height);
      for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next)
        info.markers.push_back(Marker{m->marker, std::vector<std::uint8_t>(m->data, m->data + m->data_length)});
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

// Decoded pixels, one to four 8-bit components per pixel.
struct Pixels {
  std::int32_t width = 0;
  std::int32_t height = 0;
  int components = 0;
  J_COLOR_SPACE space = JCS_UNKNOWN;
  std::vector<std::uint8_t> data;
};

// Decodes at the smallest n/8 scale whose size still covers target_width x
// target_height (the full size when none does).
bool DecodeAtLeast(const std::vector<std::uint8_t>& file, std::int32_t target_width, std::int32_t target_height,
                   Pixels& out) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JumpingErrorManager err;
  InstallErrorManager(err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_progress_mgr progress{};
  progress.progress_monitor = LimitScans;
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      cinfo.out_color_space = JCS_RGB;
      break;
  }
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.scale_denom = kDctScaleDenominator;
  for (int num = 1; num <= kDctScaleDenominator; ++num) {
    cinfo.scale_num = static_cast<unsigned>(num);
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_width >= static_cast<unsigned>(target_width) &&
        cinfo.output_height >= static_cast<unsigned>(target_height))
      break;
  }
  jpeg_start_decompress(&cinfo);
  const int components = cinfo.output_components;
  bool ok = components >= 1 && components <= 4 &&
            WithinDecodeLimit(cinfo.output_width, cinfo.output_height, kPackedPixelBytes);
  if (ok) {
    try {
      out.data.resize(static_cast<std::size_t>(cinfo.output_width) * cinfo.output_height *
                      static_cast<std::size_t>(components));
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  if (!ok) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * static_cast<std::size_t>(components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.data.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  out.width = static_cast<std::int32_t>(cinfo.output_width);
  out.height = static_cast<std::int32_t>(cinfo.output_height);
  out.components = components;
  out.space = cinfo.out_color_space;
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// Packs 1, 3 or 4 components into 32-bit pixels; each channel is filtered on
// its own, so the four slots may hold any components.
void Pack(const Pixels& in, std::vector<std::uint32_t>& packed) {
  const std::size_t count = static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.height);
  packed.resize(count);
  const std::uint8_t* p = in.data.data();
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t a = 0xFF, r, g, b;
    if (in.components == 1) {
      r = g = b = p[0];
    } else if (in.components == 3) {
      r = p[0], g = p[1], b = p[2];
    } else {
      a = p[0], r = p[1], g = p[2], b = p[3];
    }
    packed[i] = a << 24 | r << 16 | g << 8 | b;
    p += in.components;
  }
}

void Unpack(const std::vector<std::uint32_t>& packed, Pixels& out) {
  std::uint8_t* p = out.data.data();
  for (std::uint32_t v : packed) {
    if (out.components == 1) {
      *p++ = static_cast<std::uint8_t>(v);
    } else if (out.components == 3) {
      *p++ = static_cast<std::uint8_t>(v >> 16);
      *p++ = static_cast<std::uint8_t>(v >> 8);
      *p++ = static_cast<std::uint8_t>(v);
    } else {
      *p++ = static_cast<std::uint8_t>(v >> 24);
      *p++ = static_cast<std::uint8_t>(v >> 16);
      *p++ = static_cast<std::uint8_t>(v >> 8);
      *p++ = static_cast<std::uint8_t>(v);
    }
  }
}

// Resamples to exactly width x height with a separable Lanczos-3 filter:
// as the sampling kernel when shrinking (it then also removes detail finer
// than the new pixel grid), as the reconstruction kernel when enlarging.
bool Resample(const Pixels& in, std::int32_t width, std::int32_t height, Pixels& out) {
  if (in.width == width && in.height == height) {
    out = in;
    return true;
  }
  std::vector<std::uint32_t> source, target;
  Pack(in, source);
  target.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));

  const double scale_x = static_cast<double>(in.width) / width;
  const double scale_y = static_cast<double>(in.height) / height;
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, in.width, in.height, source.data(),
                                                 in.width * 4);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, target.data(), width * 4);
  bool ok = src != nullptr && dst != nullptr;
  pixman_fixed_t* params = nullptr;
  if (ok) {
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(scale_x), pixman_double_to_fixed(scale_y));
    const bool shrink_x = scale_x >= 1.0, shrink_y = scale_y >= 1.0;
    int n_params = 0;
    params = pixman_filter_create_separable_convolution(
        &n_params, pixman_double_to_fixed(scale_x), pixman_double_to_fixed(scale_y),
        shrink_x ? PIXMAN_KERNEL_IMPULSE : PIXMAN_KERNEL_LANCZOS3,
        shrink_y ? PIXMAN_KERNEL_IMPULSE : PIXMAN_KERNEL_LANCZOS3,
        shrink_x ? PIXMAN_KERNEL_LANCZOS3 : PIXMAN_KERNEL_IMPULSE,
        shrink_y ? PIXMAN_KERNEL_LANCZOS3 : PIXMAN_KERNEL_IMPULSE, kFilterSubsampleBits, kFilterSubsampleBits);
    ok = params != nullptr && pixman_image_set_transform(src, &transform) &&
         pixman_image_set_filter(src, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n_params);
  }
  if (ok) {
    // Edge pixels repeat outward, so the borders do not fade to black.
    pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, width, height);
  }
  std::free(params);
  if (src != nullptr) pixman_image_unref(src);
  if (dst != nullptr) pixman_image_unref(dst);
  if (!ok) return false;
  out.width = width;
  out.height = height;
  out.components = in.components;
  out.space = in.space;
  out.data.resize(target.size() * static_cast<std::size_t>(in.components));
  Unpack(target, out);
  return true;
}

// Destination manager collecting the encoder's output in memory.
struct VectorDestination {
  jpeg_destination_mgr pub;
  std::vector<std::uint8_t>* out;
  std::uint8_t chunk[kOutputChunkBytes];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->chunk;
  dest->pub.free_in_buffer = kOutputChunkBytes;
}

bool AppendChunk(VectorDestination* dest, std::size_t length) {
  try {
    dest->out->insert(dest->out->end(), dest->chunk, dest->chunk + length);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (!AppendChunk(dest, kOutputChunkBytes)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  dest->pub.next_output_byte = dest->chunk;
  dest->pub.free_in_buffer = kOutputChunkBytes;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (!AppendChunk(dest, kOutputChunkBytes - dest->pub.free_in_buffer)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

bool IsAdobeMarker(const Marker& m) {
  return m.code == JPEG_APP0 + 14 && m.data.size() >= 5 && std::memcmp(m.data.data(), "Adobe", 5) == 0;
}

// Encodes the pixels, writing the source's metadata segments in their order.
// The Adobe segment describes the colour coding rather than the picture and
// is written by the encoder itself when the coding needs one.
bool Encode(const Pixels& in, int quality, const std::vector<Marker>& markers, VectorDestination& dest) {
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JumpingErrorManager err;
  InstallErrorManager(err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  dest.pub.init_destination = InitDestination;
  dest.pub.empty_output_buffer = EmptyOutputBuffer;
  dest.pub.term_destination = TermDestination;
  cinfo.dest = &dest.pub;
  cinfo.image_width = static_cast<JDIMENSION>(in.width);
  cinfo.image_height = static_cast<JDIMENSION>(in.height);
  cinfo.input_components = in.components;
  cinfo.in_color_space = in.space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.write_JFIF_header = FALSE;  // the source's own APP0, if any, is copied
  jpeg_start_compress(&cinfo, TRUE);
  for (const Marker& m : markers) {
    if (IsAdobeMarker(m)) continue;
    jpeg_write_marker(&cinfo, m.code, m.data.data(), static_cast<unsigned>(m.data.size()));
  }
  const std::size_t stride = static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.components);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(in.data.data() + stride * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

struct Picture::Impl {
  std::vector<std::uint8_t> file;  // the loaded JPEG file
  std::vector<Marker> markers;     // its APPn and COM segments, in order
  bool scaled = false;
  Pixels pixels;  // the image after ScaleTo
};

Picture::Picture() = default;
Picture::~Picture() = default;

void Picture::Release() {
  impl_.reset();
  width_ = 0;
  height_ = 0;
}

bool Picture::LoadFromFile(const NativePath& path) {
  Release();
  std::unique_ptr<NativeFile> file = NativeFile::open_for_reading(path);
  if (!file) return false;
  const std::int64_t size = file->size();
  if (size <= 0 || size > kMaxJpegFileBytes) return false;
  auto impl = std::make_unique<Impl>();
  impl->file.resize(static_cast<std::size_t>(size));
  if (file->read_at(0, impl->file.data(), impl->file.size()) != impl->file.size()) return false;
  HeaderInfo info;
  if (!ReadHeader(impl->file, info)) return false;
  impl->markers = std::move(info.markers);
  impl_ = std::move(impl);
  width_ = info.width;
  height_ = info.height;
  return true;
}

void Picture::ScaleTo(std::int32_t width, std::int32_t height) {
  if (!impl_ || width <= 0 || height <= 0 || !WithinDecodeLimit(static_cast<std::uint64_t>(width),
                                                                static_cast<std::uint64_t>(height),
                                                                kPackedPixelBytes)) {
    Release();
    return;
  }
  Pixels decoded, resampled;
  const Pixels& source = impl_->scaled ? impl_->pixels : decoded;
  if (!impl_->scaled && !DecodeAtLeast(impl_->file, width, height, decoded)) {
    Release();
    return;
  }
  if (!Resample(source, width, height, resampled)) {
    Release();
    return;
  }
  impl_->pixels = std::move(resampled);
  impl_->scaled = true;
  impl_->file.clear();
  impl_->file.shrink_to_fit();
  width_ = width;
  height_ = height;
}

bool Picture::SaveAs(const NativePath& path, const std::u16string& mimeType, float quality) {
  if (mimeType != u"image/jpeg" || !impl_) return false;
  if (!impl_->scaled) {
    ScaleTo(width_, height_);
    if (!impl_) return false;
  }
  // Quality in percent, computed in single precision and truncated; libjpeg
  // accepts 1..100.
  const float percent = quality * 100.0f;
  int q = percent >= 100.0f ? 100 : percent <= 1.0f ? 1 : static_cast<int>(percent);
  std::vector<std::uint8_t> encoded;
  auto dest = std::make_unique<VectorDestination>();
  dest->out = &encoded;
  if (!Encode(impl_->pixels, q, impl_->markers, *dest)) return false;
  return ReplaceFileAtomically(path, encoded.data(), encoded.size());
}

bool Picture::PixelAt(std::int32_t x, std::int32_t y, std::uint8_t components[4], int& count) const {
  if (!impl_ || !impl_->scaled || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  const Pixels& p = impl_->pixels;
  count = p.components;
  const std::size_t at =
      (static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x)) *
      static_cast<std::size_t>(p.components);
  for (int i = 0; i < p.components; ++i) components[i] = p.data[at + static_cast<std::size_t>(i)];
  return true;
}

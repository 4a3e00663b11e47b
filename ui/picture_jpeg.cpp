// Picture backed by libjpeg-turbo (decoding with DCT-domain shrinking, and
// encoding) and our own streaming Lanczos-3 resampler (ui/resample.h).
// libjpeg reports fatal errors through error_exit, which here jumps back
// with longjmp to the function that set up the codec; those functions keep
// no C++ objects with destructors in the jumped-over range.
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/atomic_write.h"
#include "platform/native_file.h"
#include "ui/picture.h"
#include "ui/resample.h"

namespace {

// Largest JPEG file read into memory; camera previews are a few megabytes.
constexpr std::int64_t kMaxJpegFileBytes = std::int64_t{256} << 20;
// Largest image (width x height x channels) decoded or made: checked at the
// scale actually decoded, so a 100-megapixel preview shrunk on load passes,
// while a tiny file declaring a huge image cannot make us decode for long.
constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{1} << 28;
// Memory the JPEG decoder may take for its own buffers. A baseline image
// needs a few rows of blocks; a progressive one keeps every coefficient,
// which for a huge declared size is refused rather than allocated.
constexpr long kMaxDecoderMemoryBytes = 256L << 20;
// Channels of a packed colour pixel (RGBX or CMYK), used to bound a result.
constexpr std::uint64_t kPackedPixelBytes = 4;
// Size of the chunks in which the encoder's output is collected.
constexpr std::size_t kOutputChunkBytes = 64 * 1024;
// libjpeg can decode at n/8 of the full size, n = 1..8.
constexpr int kDctScaleDenominator = 8;
// The DCT-domain shrink stops at this multiple of the target size, the
// resampler does the rest. The shrink cuts the spectrum of every 8x8 block
// on its own, which leaves small errors along the block edges; with twice
// the target's resolution left, the Lanczos pass filters them out (closer
// shrinks cost up to 4 dB of PSNR on camera previews, measured with
// bench/scaled_bench.sh).
constexpr std::uint64_t kShrinkMargin = 2;
// Rows asked of the decoder per call; it never hands out more than 4.
constexpr int kMaxRowsPerRead = 4;
// Encoders use at most a few dozen progressive scans; files with thousands
// of tiny scans only serve to make decoding take very long.
constexpr int kMaxProgressiveScans = 500;
// From this quality on, chroma is kept at full resolution (4:4:4): at such
// qualities halving it is the largest loss left.
constexpr int kFullChromaFromQuality = 90;

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
  // Only the header is read here: the size limit applies to the decode,
  // at the scale it is made.
  bool ok = cinfo.image_width > 0 && cinfo.image_height > 0 &&
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

// Decoded pixels: 1 (grey) or 4 (RGBX or CMYK) 8-bit channels per pixel.
struct Pixels {
  std::int32_t width = 0;
  std::int32_t height = 0;
  int channels = 0;
  J_COLOR_SPACE space = JCS_UNKNOWN;
  std::vector<std::uint8_t> data;
};

// Smallest n/8 decode scale whose size is at least kShrinkMargin times
// target_width x target_height (the full size when none is): the DCT-domain
// shrink does most of the reduction at a fraction of a full decode's cost.
void ChooseDecodeScale(jpeg_decompress_struct& cinfo, std::int32_t target_width, std::int32_t target_height) {
  cinfo.scale_denom = kDctScaleDenominator;
  const std::uint64_t need_width = static_cast<std::uint64_t>(target_width) * kShrinkMargin;
  const std::uint64_t need_height = static_cast<std::uint64_t>(target_height) * kShrinkMargin;
  for (int num = 1; num <= kDctScaleDenominator; ++num) {
    cinfo.scale_num = static_cast<unsigned>(num);
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_width >= need_width && cinfo.output_height >= need_height) break;
  }
}

// Decodes the file at the scale ChooseDecodeScale picks and streams its rows
// through the resampler into out, which becomes width x height. Only a few
// decoded rows exist at any time. `rows` is scratch space owned by the
// caller, as is the resampler (nothing with a destructor lives in this
// function's frame, which a decoding error leaves by longjmp).
bool DecodeScaled(const std::vector<std::uint8_t>& file, std::int32_t width, std::int32_t height,
                  RowResampler& resampler, std::vector<std::uint8_t>& rows, Pixels& out) {
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
  cinfo.mem->max_memory_to_use = kMaxDecoderMemoryBytes;
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
      cinfo.out_color_space = JCS_EXT_RGBX;  // four bytes a pixel suit the resampler
      break;
  }
  cinfo.dct_method = JDCT_ISLOW;
  ChooseDecodeScale(cinfo, width, height);
  jpeg_start_decompress(&cinfo);
  const int channels = cinfo.output_components;
  bool ok = (channels == 1 || channels == 4) &&
            WithinDecodeLimit(cinfo.output_width, cinfo.output_height, static_cast<unsigned>(channels));
  if (ok) {
    try {
      out.data.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                      static_cast<std::size_t>(channels));
      rows.resize(static_cast<std::size_t>(cinfo.output_width) * static_cast<std::size_t>(channels) *
                  static_cast<std::size_t>(cinfo.rec_outbuf_height));
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  ok = ok && resampler.Start(static_cast<std::int32_t>(cinfo.output_width),
                             static_cast<std::int32_t>(cinfo.output_height), width, height, channels,
                             out.data.data());
  if (!ok) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * static_cast<std::size_t>(channels);
  JSAMPROW pointers[kMaxRowsPerRead];
  const int batch = std::min(cinfo.rec_outbuf_height, kMaxRowsPerRead);
  for (int i = 0; i < batch; ++i) pointers[i] = rows.data() + stride * static_cast<std::size_t>(i);
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION got = jpeg_read_scanlines(&cinfo, pointers, static_cast<JDIMENSION>(batch));
    for (JDIMENSION i = 0; i < got; ++i) resampler.PushRow(pointers[i]);
  }
  jpeg_finish_decompress(&cinfo);
  out.width = width;
  out.height = height;
  out.channels = channels;
  out.space = cinfo.out_color_space;
  jpeg_destroy_decompress(&cinfo);
  return resampler.Finished();
}

// Resamples pixels already decoded (a second ScaleTo).
bool Rescale(const Pixels& in, std::int32_t width, std::int32_t height, Pixels& out) {
  RowResampler resampler;
  try {
    out.data.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                    static_cast<std::size_t>(in.channels));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!resampler.Start(in.width, in.height, width, height, in.channels, out.data.data())) return false;
  const std::size_t stride = static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.channels);
  for (std::int32_t y = 0; y < in.height; ++y) resampler.PushRow(in.data.data() + stride * static_cast<std::size_t>(y));
  out.width = width;
  out.height = height;
  out.channels = in.channels;
  out.space = in.space;
  return resampler.Finished();
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
  cinfo.input_components = in.channels;
  cinfo.in_color_space = in.space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (quality >= kFullChromaFromQuality)
    for (int i = 0; i < cinfo.num_components; ++i) cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.write_JFIF_header = FALSE;  // the source's own APP0, if any, is copied
  jpeg_start_compress(&cinfo, TRUE);
  for (const Marker& m : markers) {
    if (IsAdobeMarker(m)) continue;
    jpeg_write_marker(&cinfo, m.code, m.data.data(), static_cast<unsigned>(m.data.size()));
  }
  const std::size_t stride = static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.channels);
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

namespace {

// Takes over the bytes of a JPEG file and reads its header; null when it is
// not a JPEG.
std::unique_ptr<Picture::Impl> ParseJpeg(std::vector<std::uint8_t>& bytes, std::int32_t& width,
                                         std::int32_t& height) {
  auto impl = std::make_unique<Picture::Impl>();
  impl->file.swap(bytes);
  HeaderInfo info;
  if (!ReadHeader(impl->file, info)) return nullptr;
  impl->markers = std::move(info.markers);
  width = info.width;
  height = info.height;
  return impl;
}

}  // namespace

bool Picture::LoadFromFile(const NativePath& path) {
  Release();
  std::unique_ptr<NativeFile> file = NativeFile::open_for_reading(path);
  if (!file) return false;
  const std::int64_t size = file->size();
  if (size <= 0 || size > kMaxJpegFileBytes) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (file->read_at(0, bytes.data(), bytes.size()) != bytes.size()) return false;
  impl_ = ParseJpeg(bytes, width_, height_);
  return impl_ != nullptr;
}

bool Picture::LoadFromMemory(const void* data, std::size_t length) {
  Release();
  if (data == nullptr || length == 0 || length > static_cast<std::uint64_t>(kMaxJpegFileBytes)) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::vector<std::uint8_t> copy(bytes, bytes + length);
  impl_ = ParseJpeg(copy, width_, height_);
  return impl_ != nullptr;
}

void Picture::ScaleTo(std::int32_t width, std::int32_t height) {
  if (!impl_ || width <= 0 || height <= 0 ||
      !WithinDecodeLimit(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), kPackedPixelBytes)) {
    Release();
    return;
  }
  Pixels resampled;
  bool ok;
  if (impl_->scaled) {
    ok = Rescale(impl_->pixels, width, height, resampled);
  } else {
    RowResampler resampler;
    std::vector<std::uint8_t> rows;
    ok = DecodeScaled(impl_->file, width, height, resampler, rows, resampled);
  }
  if (!ok) {
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

bool Picture::SaveToMemory(const std::u16string& mimeType, float quality, std::vector<std::uint8_t>& out) {
  out.clear();
  if (mimeType != u"image/jpeg" || !impl_) return false;
  if (!impl_->scaled) {
    ScaleTo(width_, height_);
    if (!impl_) return false;
  }
  // Quality in percent, computed in single precision and truncated; libjpeg
  // accepts 1..100.
  const float percent = quality * 100.0f;
  int q = percent >= 100.0f ? 100 : percent <= 1.0f ? 1 : static_cast<int>(percent);
  auto dest = std::make_unique<VectorDestination>();
  dest->out = &out;
  if (Encode(impl_->pixels, q, impl_->markers, *dest)) return true;
  out.clear();
  return false;
}

bool Picture::SaveAs(const NativePath& path, const std::u16string& mimeType, float quality) {
  std::vector<std::uint8_t> encoded;
  return SaveToMemory(mimeType, quality, encoded) && ReplaceFileAtomically(path, encoded.data(), encoded.size());
}

bool Picture::PixelAt(std::int32_t x, std::int32_t y, std::uint8_t components[4], int& count) const {
  if (!impl_ || !impl_->scaled || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  const Pixels& p = impl_->pixels;
  // An RGBX pixel shows as its three colours.
  count = p.space == JCS_EXT_RGBX ? 3 : p.channels;
  const std::size_t at =
      (static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x)) *
      static_cast<std::size_t>(p.channels);
  for (int i = 0; i < count; ++i) components[i] = p.data[at + static_cast<std::size_t>(i)];
  return true;
}

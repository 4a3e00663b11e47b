// After a TIFF structure was read: which directory holds the raw image,
// which the preview, and which writer that preview needs.
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

// Compression codes the probe understands for raw data.
bool is_known_raw_compression(std::uint32_t c) {
  switch (c) {
    case 0: case 1: case 6: case 7: case 99: case 262: case 32767: case 32769: case 32770:
    case 32773: case 32867: case 34713: case 65000: case 65535:
      return true;
    default:
      return false;
  }
}

// Preview score: pixels per squared bit depth. A depth whose square is zero
// gives no score (it cannot come from a sound directory).
std::int64_t preview_score(std::int64_t width, std::int64_t height, std::int64_t bits) {
  std::int64_t b = bits + 1;
  // Widths and heights are below 2^32, so a depth this large scores 0 anyway.
  if (b == 0 || b > 65536 || b < -65536) return 0;
  return width * height / (b * b);
}

// Size of the frame of a JPEG a viewer shows (baseline, extended or
// progressive DCT); false for any other JPEG, such as sensor data stored
// as a lossless JPEG, which is never a preview.
bool viewable_jpeg_size(std::int64_t offset, std::uint32_t length, unsigned& width, unsigned& height) {
  bool found = false;
  walk_leading_segments(offset, length, [&](const JpegSegment& s) {
    const bool frame = s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 &&
                       s.marker != 0xCC;
    if (!frame) return true;
    if (s.marker <= 0xC2) {
      height = static_cast<unsigned>(s.head[1] << 8 | s.head[2]);
      width = static_cast<unsigned>(s.head[3] << 8 | s.head[4]);
      found = width != 0 && height != 0;
    }
    return false;
  });
  return found;
}

}  // namespace

void select_raw_and_preview() {
  terminate_probe_texts();
  g_probe.preview_format_bits = 16;
  if (g_probe.preview_offset) {
    probe_seek(g_probe.preview_offset);
    LosslessJpegHeader jh;
    if (ljpeg_start(jh, 1)) {
      g_probe.preview_format_bits = static_cast<std::uint32_t>(jh.bits);
      g_probe.preview_width = static_cast<std::uint16_t>(jh.width);
      g_probe.preview_height = static_cast<std::uint16_t>(jh.height);
    }
  }

  const unsigned count = g_probe.tiff_dir_count;
  const TiffDirInfo* dirs = g_probe.tiff_dirs;
  int raw = -1;
  int max_samples = 0;
  for (unsigned i = 0; i < count; ++i) {
    const TiffDirInfo& d = dirs[i];
    if (d.samples_per_pixel > max_samples) max_samples = d.samples_per_pixel;
    if (max_samples > 3) max_samples = 3;
    bool three_sample_jpeg = d.compression == 6 && d.samples_per_pixel == 3;
    // A DNG marks its previews as reduced-resolution copies (NewSubfileType
    // bit 0); one as large as the raw image is still no raw image.
    bool dng_preview = g_probe.dng_version != 0 && (d.subfile_type & 1) != 0;
    // Products as 32-bit signed values, as the directories store them.
    std::int32_t area = static_cast<std::int32_t>(static_cast<std::int64_t>(d.width) * d.height);
    std::int32_t current = static_cast<std::int32_t>(static_cast<std::int64_t>(g_probe.sensor_width) *
                                                     g_probe.sensor_height);
    if (!three_sample_jpeg && !dng_preview && (d.width | d.height) < 65536 && area > current) {
      raw = static_cast<int>(i);
      g_probe.sensor_width = static_cast<std::uint16_t>(d.width);
      g_probe.sensor_height = static_cast<std::uint16_t>(d.height);
      g_probe.raw_sample_bits = static_cast<std::uint32_t>(d.bits_per_sample);
      g_probe.raw_offset = static_cast<std::uint32_t>(d.data_offset);
      g_probe.tiff_orientation = d.orientation;
      g_probe.raw_sample_count = static_cast<std::uint32_t>(d.samples_per_pixel);
      g_probe.raw_compression = static_cast<std::uint32_t>(d.compression);
    }
  }
  for (unsigned i = count; i-- > 0;) {
    if (dirs[i].orientation) g_probe.tiff_orientation = dirs[i].orientation;
  }

  if (raw >= 0 && g_probe.sensor_decoder == DecoderChoice::none) {
    g_probe.sensor_decoder = DecoderChoice::recorded;
    if (!is_known_raw_compression(g_probe.raw_compression)) g_probe.raw_supported = 0;
  }

  std::int32_t raw_bytes = raw >= 0 ? dirs[raw].byte_count : 0;
  if (g_probe.dng_version == 0 &&
      ((g_probe.raw_sample_count == 3 && raw_bytes != 0 && g_probe.raw_sample_bits != 14 &&
        g_probe.raw_sample_bits != 2048) ||
       (g_probe.raw_sample_bits == 8 && !text_contains(field_text(g_probe.camera_make), "KODAK") &&
        !text_contains(field_text(g_probe.camera_make), "Kodak") &&
        !text_contains(field_text(g_probe.model_detail), "DEBUG RAW"))))
    g_probe.raw_supported = 0;

  int preview = -1;
  for (unsigned i = 0; i < count; ++i) {
    const TiffDirInfo& d = dirs[i];
    if (static_cast<int>(i) == raw || d.samples_per_pixel != max_samples) continue;
    std::int64_t score = preview_score(d.width, d.height, d.bits_per_sample);
    std::int64_t current =
        preview_score(g_probe.preview_width, g_probe.preview_height, g_probe.preview_format_bits);
    if (score > current) {
      preview = static_cast<int>(i);
      g_probe.preview_width = static_cast<std::uint16_t>(d.width);
      g_probe.preview_height = static_cast<std::uint16_t>(d.height);
      g_probe.preview_offset = static_cast<std::uint32_t>(d.data_offset);
      g_probe.preview_length = static_cast<std::uint32_t>(d.byte_count);
      g_probe.preview_format_bits = static_cast<std::uint32_t>(d.bits_per_sample);
    }
  }
  if (preview < 0) return;
  const TiffDirInfo& p = dirs[preview];
  g_probe.preview_format_bits |= static_cast<std::uint32_t>(p.samples_per_pixel) << 5;
  switch (p.compression) {
    case 0:
      g_probe.preview_kind = PreviewKind::layer_thumb;
      break;
    case 1:
      if (p.bits_per_sample <= 8) {
        g_probe.preview_kind = PreviewKind::ppm_thumb;
      } else {
        g_probe.preview_decoder = DecoderChoice::recorded;
      }
      break;
    case 65000:
      g_probe.preview_decoder = DecoderChoice::recorded;
      break;
    default:
      break;
  }
}

void choose_largest_whole_jpeg() {
  if (g_probe.preview_kind != PreviewKind::jpeg_thumb || has_usable_jpeg_preview()) return;
  const EmbeddedImage* best = nullptr;
  unsigned best_width = 0, best_height = 0;
  std::uint64_t best_area = 0;
  for (std::uint32_t i = 0; i < g_probe.embedded_image_count; ++i) {
    const EmbeddedImage& e = g_probe.embedded_images[i];
    unsigned width = 0, height = 0;
    if (!is_whole_jpeg_at(e.offset, e.length) || !viewable_jpeg_size(e.offset, e.length, width, height)) continue;
    const std::uint64_t area = std::uint64_t{width} * height;
    if (best && (area < best_area || (area == best_area && e.length <= best->length))) continue;
    best = &e;
    best_area = area;
    best_width = width;
    best_height = height;
  }
  if (!best) return;
  g_probe.preview_offset = best->offset;
  g_probe.preview_length = best->length;
  g_probe.preview_width = static_cast<std::uint16_t>(best_width);
  g_probe.preview_height = static_cast<std::uint16_t>(best_height);
}

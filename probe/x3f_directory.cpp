// X3F files: a section directory at the end of the file lists image,
// calibration and property sections. The largest JPEG image section is the
// preview; the property section holds the names and the shot data.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

constexpr std::uint32_t kDirectoryMark = 0x64434553;  // "SECd"
constexpr std::uint32_t kSectionMarkLow = 0x20434553;  // "SEC" + type letter
constexpr std::uint32_t kImage = 0x47414D49;           // "IMAG"
constexpr std::uint32_t kImage2 = 0x32414D49;          // "IMA2"
constexpr std::uint32_t kProperties = 0x504F5250;      // "PROP"

// The leading decimal integer of a text, clamped to 32 bits (0 when none).
std::int32_t leading_int(const char* text) {
  long long v = std::strtoll(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

void apply_property(const char* name, const char* value) {
  if (std::strcmp(name, "ISO") == 0) {
    g_probe.iso_rating = static_cast<float>(leading_int(value));
  } else if (std::strcmp(name, "CAMMANUF") == 0) {
    set_text(g_probe.camera_make, value);
  } else if (std::strcmp(name, "CAMMODEL") == 0) {
    set_text(g_probe.camera_model, value);
  } else if (std::strcmp(name, "WB_DESC") == 0) {
    set_text(g_probe.model_detail, value);
  } else if (std::strcmp(name, "TIME") == 0) {
    g_probe.capture_time = leading_int(value);
  } else if (std::strcmp(name, "EXPTIME") == 0) {
    // Microseconds.
    g_probe.exposure_seconds = static_cast<float>(leading_int(value) / 1000000.0);
  } else if (std::strcmp(name, "APERTURE") == 0) {
    g_probe.f_number = static_cast<float>(std::strtod(value, nullptr));
  } else if (std::strcmp(name, "FLENGTH") == 0) {
    g_probe.focal_length_mm = static_cast<float>(std::strtod(value, nullptr));
  }
}

// Property section at o: m pairs of character indexes into a table of
// 16-bit texts that follows them.
void read_properties(std::uint32_t o) {
  probe_seek(static_cast<std::int64_t>(o) + 8);
  std::uint32_t m = read_u32();
  std::uint32_t text_base = o + 24 + 8 * m;  // 32-bit arithmetic, as stored
  if (m > probe_limits::kMaxX3fProperties) m = probe_limits::kMaxX3fProperties;
  probe_seek(static_cast<std::int64_t>(o) + 24);
  std::uint32_t positions[2 * probe_limits::kMaxX3fProperties];
  for (std::uint32_t i = 0; i < 2 * m; ++i) positions[i] = text_base + 2 * read_u32();
  for (std::uint32_t i = 0; i < m; ++i) {
    // Each pair reads two texts of up to 63 characters; charge it so that a
    // directory naming the same section many times stays cheap.
    if (!take_work()) return;
    char name[64];
    char value[64];
    read_text_at(positions[2 * i], name, sizeof name);
    read_text_at(positions[2 * i + 1], value, sizeof value);
    apply_property(name, value);
  }
}

// Image section at o of length L: a raw image, or a JPEG preview.
void read_image_section(std::uint32_t o, std::uint32_t length, unsigned& image_sections) {
  probe_seek(static_cast<std::int64_t>(o) + 16);
  std::int32_t width = static_cast<std::int32_t>(read_u32());
  std::int32_t height = static_cast<std::int32_t>(read_u32());
  if (width > g_probe.sensor_width && height > g_probe.sensor_height) {
    g_probe.sensor_width = static_cast<std::uint16_t>(width);
    g_probe.sensor_height = static_cast<std::uint16_t>(height);
    g_probe.raw_offset = o + 24;
  }
  probe_seek(static_cast<std::int64_t>(o) + 28);
  std::uint32_t data_length = length - 28;
  if (probe_getc() == 0xFF && probe_getc() == 0xD8) {
    note_embedded_image("X3F image section", static_cast<std::int64_t>(o) + 28, data_length,
                        width > 0 ? static_cast<unsigned>(width) : 0, height > 0 ? static_cast<unsigned>(height) : 0);
  }
  probe_seek(static_cast<std::int64_t>(o) + 28);
  if (probe_getc() == 0xFF && probe_getc() == 0xD8 && g_probe.preview_length < data_length) {
    g_probe.preview_offset = static_cast<std::uint32_t>(o + 28);
    g_probe.preview_length = data_length;
    g_probe.preview_kind = PreviewKind::jpeg_thumb;
  }
  if (++image_sections == 2 && g_probe.preview_length == 0) {
    note_embedded_image("X3F image section", static_cast<std::int64_t>(o) + 24, length - 24,
                        width > 0 ? static_cast<unsigned>(width) : 0, height > 0 ? static_cast<unsigned>(height) : 0);
    g_probe.preview_offset = static_cast<std::uint32_t>(o + 24);
    g_probe.preview_width = static_cast<std::uint16_t>(width);
    g_probe.preview_height = static_cast<std::uint16_t>(height);
    g_probe.preview_kind = PreviewKind::foveon_thumb;
  }
}

}  // namespace

void read_x3f_directory() {
  g_probe.byte_order = 0x4949;
  probe_seek(36);
  int code = rotation_degrees_to_code(static_cast<std::int32_t>(read_u32()));
  if (code >= 0) g_probe.orientation_code = code;

  probe_seek(probe_file_size() - 4);
  probe_seek(read_u32());
  if (read_u32() != kDirectoryMark) return;
  read_u32();  // version
  std::uint32_t entries = read_u32();
  unsigned image_sections = 0;
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (!take_work()) break;
    std::uint32_t offset = read_u32();
    std::uint32_t length = read_u32();
    std::uint32_t type = read_u32();
    std::int64_t next = probe_tell();
    probe_seek(offset);
    if (read_u32() != ((type << 24) | kSectionMarkLow)) return;
    if (type == kImage || type == kImage2) {
      read_image_section(offset, length, image_sections);
    } else if (type == kProperties) {
      read_properties(offset);
    }
    // Calibration (CAMF) sections serve sensor decoding only.
    probe_seek(next);
  }
  g_probe.x3f_flag = 1;
}

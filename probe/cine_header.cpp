// Cine files (high-speed cameras): a little-endian header with offsets of
// the image header, the camera setup and the image-offset table.
#include <cstdint>
#include <cstdio>

#include "probe/probe_input.h"
#include "probe/readers.h"

void read_cine_header() {
  g_probe.byte_order = 0x4949;
  probe_seek(4);
  std::uint32_t is_raw = read_u16() == 2 ? 1 : 0;
  probe_seek(20);
  std::uint32_t image_count = read_u32();
  g_probe.raw_supported = static_cast<std::int32_t>(is_raw * image_count);
  std::uint32_t image_header = read_u32();
  std::uint32_t setup = read_u32();
  std::uint32_t offset_table = read_u32();
  g_probe.capture_time = read_u32();
  if (std::uint32_t later = read_u32()) g_probe.capture_time = later;

  probe_seek(static_cast<std::int64_t>(image_header) + 4);
  g_probe.sensor_width = static_cast<std::uint16_t>(read_u32());
  g_probe.sensor_height = static_cast<std::uint16_t>(read_u32());
  probe_seek(static_cast<std::int64_t>(image_header) + 14);
  g_probe.raw_sample_bits = read_u16();
  g_probe.sensor_decoder = DecoderChoice::recorded;

  probe_seek(static_cast<std::int64_t>(setup) + 792);
  set_text(g_probe.camera_make, "CINE");
  std::snprintf(g_probe.camera_model, sizeof g_probe.camera_model, "%d",
                static_cast<std::int32_t>(read_u32()));
  probe_seek(static_cast<std::int64_t>(setup) + 808);
  std::uint32_t pattern = read_u32() & 0xFFFFFF;
  if (pattern != 3 && pattern != 4) g_probe.raw_supported = 0;

  // Rotation in degrees, possibly negative; the camera's own mapping to
  // orientation codes.
  probe_seek(static_cast<std::int64_t>(setup) + 884);
  switch ((read_u32() + 3600u) % 360u) {
    case 0: g_probe.orientation_code = 2; break;
    case 90: g_probe.orientation_code = 7; break;
    case 180: g_probe.orientation_code = 1; break;
    case 270: g_probe.orientation_code = 4; break;
    default: break;
  }
  probe_seek(static_cast<std::int64_t>(setup) + 1568);
  g_probe.exposure_seconds = static_cast<float>(read_u32() / 1e9);
  probe_seek(offset_table);
  g_probe.raw_offset = read_u32() + 8;
}

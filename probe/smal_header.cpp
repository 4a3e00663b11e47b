// SMaL files carry no magic: a header whose length word equals the file's
// length identifies them, and names the model by version and size.
#include <cstdint>
#include <cstdio>

#include "probe/probe_input.h"
#include "probe/readers.h"

void read_smal_header(std::uint32_t offset, std::int32_t file_length) {
  probe_seek(static_cast<std::int64_t>(offset) + 2);
  g_probe.byte_order = 0x4949;
  int version = probe_getc();
  if (version == 6) probe_seek(probe_tell() + 5);
  if (read_u32() != static_cast<std::uint32_t>(file_length)) return;
  if (version > 6) g_probe.raw_offset = read_u32();
  std::uint16_t height = read_u16();
  std::uint16_t width = read_u16();
  g_probe.image_height = g_probe.sensor_height = height;
  g_probe.image_width = g_probe.sensor_width = width;
  set_text(g_probe.camera_make, "SMaL");
  std::snprintf(g_probe.camera_model, sizeof g_probe.camera_model, "v%d %dx%d", version, width,
                height);
  g_probe.sensor_decoder = DecoderChoice::recorded;
}

// Sinar IA files: a little-endian directory of named blocks. The metadata
// block names the camera; the thumbnail is a PPM image, never extracted.
#include <cstdint>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

void read_sinar_ia_header() {
  g_probe.byte_order = 0x4949;
  probe_seek(4);
  std::uint32_t entries = read_u32();
  probe_seek(read_u32());
  bool have_meta = false;
  std::uint32_t meta = 0;
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (!take_work()) break;
    std::uint32_t offset = read_u32();
    read_u32();
    char name[9];
    std::memset(name, 0, sizeof name);
    probe_read(name, 8);
    if (std::strcmp(name, "META") == 0) {
      meta = offset;
      have_meta = true;
    } else if (std::strcmp(name, "THUMB") == 0) {
      g_probe.preview_offset = static_cast<std::uint32_t>(offset);
    } else if (std::strcmp(name, "RAW0") == 0) {
      g_probe.raw_offset = offset;
    }
  }
  // Without a metadata block there is nowhere to read the names from.
  if (have_meta) {
    probe_seek(static_cast<std::int64_t>(meta) + 20);
    probe_read(g_probe.camera_make, sizeof g_probe.camera_make);
    g_probe.camera_make[63] = 0;
    std::size_t space = field_text(g_probe.camera_make).find(' ');
    if (space != std::string_view::npos) {
      set_text(g_probe.camera_model, g_probe.camera_make + space + 1);
      g_probe.camera_make[space] = 0;
    }
    g_probe.sensor_width = read_u16();
    g_probe.sensor_height = read_u16();
    read_u32();
    g_probe.preview_width = read_u16();
    g_probe.preview_height = read_u16();
  }
  g_probe.sensor_decoder = DecoderChoice::recorded;
  g_probe.preview_kind = PreviewKind::ppm_thumb;
}

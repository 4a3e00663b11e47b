// Minolta's block container: a chain of named blocks, one of which holds a
// TIFF structure with the camera's metadata.
#include "probe/probe_input.h"
#include "probe/readers.h"

void read_minolta_blocks(std::uint32_t base) {
  NestingGuard guard;
  if (!guard.ok()) return;
  std::uint16_t saved_order = g_probe.byte_order;
  probe_seek(base);
  if (probe_getc() != 0 || probe_getc() != 'M' || probe_getc() != 'R') return;
  g_probe.byte_order = static_cast<std::uint16_t>(probe_getc() * 0x101);
  std::int64_t end = static_cast<std::int64_t>(base) + read_u32() + 8;
  std::uint16_t prd_width = 0, prd_height = 0;
  for (std::int64_t pos = probe_tell(); pos < end; pos = probe_tell()) {
    if (!take_work()) break;
    std::uint8_t name[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    probe_read(name, 4);
    std::uint32_t length = read_u32();
    if (name[0] == 0 && name[1] == 'P' && name[2] == 'R' && name[3] == 'D') {
      g_probe.probe_file->skip(8);
      prd_height = read_u16();
      prd_width = read_u16();
    } else if (name[0] == 0 && name[1] == 'T' && name[2] == 'T' && name[3] == 'W') {
      const std::uint32_t first = g_probe.tiff_dir_count;
      read_tiff_file(static_cast<std::uint32_t>(probe_tell()));
      g_probe.raw_offset = static_cast<std::uint32_t>(end);
      // The camera's orientation is in these directories; no raw or preview
      // choice runs over them, so it is taken here, the first stated one.
      for (std::uint32_t i = g_probe.tiff_dir_count; i-- > first;) {
        if (g_probe.tiff_dirs[i].orientation) g_probe.tiff_orientation = g_probe.tiff_dirs[i].orientation;
      }
    }
    // Other blocks (white balance among them) feed colour data only.
    probe_seek(pos + length + 8);
  }
  g_probe.sensor_height = prd_height;
  g_probe.sensor_width = prd_width;
  g_probe.byte_order = saved_order;
}

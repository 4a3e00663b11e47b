// Walks the segments of a JPEG stream for metadata: frame size, CIFF heaps
// and TIFF structures held in application segments.
#include "probe/probe_input.h"
#include "probe/readers.h"

int read_jpeg_segments(std::uint32_t offset) {
  NestingGuard guard;
  if (!guard.ok()) return 0;
  probe_seek(offset);
  if (probe_getc() != 0xFF || probe_getc() != 0xD8) return 0;
  while (probe_getc() == 0xFF) {
    if (!take_work()) break;
    int marker = probe_getc();
    if (marker == 0xDA) break;
    g_probe.byte_order = 0x4D4D;
    std::uint32_t length = read_u16();
    std::int64_t p = probe_tell();
    if (marker == 0xC0 || marker == 0xC3) {
      probe_getc();
      g_probe.sensor_height = read_u16();
      g_probe.sensor_width = read_u16();
    }
    g_probe.byte_order = read_u16();
    std::uint32_t h = read_u32();
    if (read_u32() == 0x48454150)  // "HEAP"
      read_ciff_heap(static_cast<std::uint32_t>(p + h), length - h - 2);
    if (read_tiff_file(static_cast<std::uint32_t>(p + 6))) select_raw_and_preview();
    probe_seek(p + length - 2);
  }
  return 1;
}

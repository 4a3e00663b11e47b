// The RAF header's directory of tagged records. Its records give sensor
// geometry and white balance only; names and preview come from the header
// and the TIFF structures the top-level probe reads.
#include <cstdint>

#include "probe/probe_input.h"
#include "probe/readers.h"

void read_raf_directory(std::uint32_t offset) {
  probe_seek(offset);
  std::uint32_t records = read_u32();
  if (records > probe_limits::kMaxRafRecords) return;
  unsigned layout = 0;
  for (std::uint32_t i = 0; i < records; ++i) {
    if (!take_work()) break;
    unsigned tag = read_u16();
    unsigned length = read_u16();
    std::int64_t data = probe_tell();
    if (tag == 0x0100) {
      g_probe.sensor_height = read_u16();
      g_probe.sensor_width = read_u16();
    } else if (tag == 0x0121) {
      g_probe.image_height = read_u16();
      g_probe.image_width = read_u16();
      if (g_probe.image_width == 4284) g_probe.image_width = 4287;
    } else if (tag == 0x0130) {
      // Top bit of the first byte: the sensor is read at 45 degrees, two
      // rows per output row.
      int b = probe_getc();
      layout = b > 0 ? static_cast<unsigned>(b) >> 7 : 0;
    }
    // 0x2FF0 and the rest: white balance and sensor decoding.
    probe_seek(data + length);
  }
  if (g_probe.sensor_height == 0) g_probe.sensor_decoder = DecoderChoice::recorded;
  g_probe.image_height = static_cast<std::uint16_t>(g_probe.image_height << layout);
  g_probe.image_width = static_cast<std::uint16_t>(g_probe.image_width >> layout);
}

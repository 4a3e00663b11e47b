// Kodak's private directory: ISO and output size; the rest is colour data.
#include "probe/probe_input.h"
#include "probe/readers.h"

void read_kodak_dir(std::uint32_t base) {
  unsigned entries = read_u16();
  if (entries > probe_limits::kMaxKodakDirEntries) return;
  while (entries--) {
    if (!take_work()) return;
    TagHeader h = read_tag_header(base);
    switch (h.tag) {
      case 6020:
        g_probe.iso_rating = static_cast<float>(read_int_of_type(h.type));
        break;
      case 64019:
        g_probe.image_width = static_cast<std::uint16_t>(read_int_of_type(h.type));
        break;
      case 64020:
        g_probe.image_height = static_cast<std::uint16_t>((read_int_of_type(h.type) + 1) & ~1u);
        break;
      default:
        break;
    }
    probe_seek(h.next);
  }
}

// Phase One raw header: a tagged directory of 16-byte entries behind an
// "IIII" or "MMMM" run. Gives the model, the orientation and the geometry.
#include <cstdint>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

// The model names of backs that leave the model text empty, by sensor height.
struct HeightModel {
  std::uint16_t height;
  const char* model;
};
constexpr HeightModel PHASE_ONE_MODELS_BY_HEIGHT[] = {
    {2060, "LightPhase"},
    {2682, "H 10"},
    {4128, "H 20"},
    {5488, "H 25"},
};

void read_model(std::int64_t at) {
  probe_seek(at);
  probe_read(g_probe.camera_model, 63);
  g_probe.camera_model[63] = 0;
  std::size_t cut = field_text(g_probe.camera_model).find(" camera");
  if (cut != std::string_view::npos) g_probe.camera_model[cut] = 0;
}

}  // namespace

void read_phase_one_header(std::uint32_t base) {
  probe_seek(base);
  g_probe.byte_order = static_cast<std::uint16_t>(read_u32());
  if ((read_u32() & 0xFFFFFF00) != 0x52617700) return;  // "Raw"
  probe_seek(static_cast<std::uint32_t>(base + read_u32()));
  std::uint32_t entries = read_u32();
  read_u32();
  for (std::uint32_t i = 0; i < entries; ++i) {
    // An entry count larger than the file can hold ends with the file: the
    // entries beyond it would read as nothing but the end-of-file bytes.
    if (!take_work() || probe_tell() >= probe_file_size()) break;
    std::uint32_t tag = read_u32();
    read_u32();  // type
    read_u32();  // length
    std::uint32_t data = read_u32();
    std::int64_t next = probe_tell();
    probe_seek(static_cast<std::uint32_t>(base + data));
    switch (tag) {
      case 0x0100: g_probe.orientation_code = "0653"[data & 3] - '0'; break;
      case 0x0301: read_model(static_cast<std::uint32_t>(base + data)); break;
      case 0x0108: g_probe.sensor_width = static_cast<std::uint16_t>(data); break;
      case 0x0109: g_probe.sensor_height = static_cast<std::uint16_t>(data); break;
      case 0x010C: g_probe.image_width = static_cast<std::uint16_t>(data); break;
      case 0x010D: g_probe.image_height = static_cast<std::uint16_t>(data); break;
      case 0x010F: g_probe.raw_offset = base + data; break;
      default:
        // Margins, colour matrix, white balance, data format, calibration
        // and sensor-correction values serve sensor decoding only.
        break;
    }
    probe_seek(next);
  }
  g_probe.sensor_decoder = DecoderChoice::recorded;
  set_text(g_probe.camera_make, "Phase One");
  if (g_probe.camera_model[0] == 0) {
    for (const HeightModel& row : PHASE_ONE_MODELS_BY_HEIGHT) {
      if (row.height == g_probe.sensor_height) set_text(g_probe.camera_model, row.model);
    }
  }
}

// Leaf metadata packets: a chain of named packets inside a private TIFF
// tag. They carry the JPEG preview, the camera back's model and the image
// rotation. A packet's data may itself be a chain.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

constexpr std::uint32_t kPacketMark = 0x504B5453;  // "PKTS" in a big-endian file

// Camera back models by the number in "ShootObj_back_type".
constexpr const char* LEAF_BACK_MODELS[] = {
    "",          "DCB2",      "Volare",    "Cantare",   "CMost",     "Valeo 6",   "Valeo 11",
    "Valeo 22",  "Valeo 11p", "Valeo 17",  "",          "Aptus 17",  "Aptus 22",  "Aptus 75",
    "Aptus 65",  "Aptus 54S", "Aptus 65S", "Aptus 75S", "AFi 5",     "AFi 6",     "AFi 7",
};
constexpr int kLeafBackModelCount = sizeof LEAF_BACK_MODELS / sizeof LEAF_BACK_MODELS[0];

// Reads one decimal number written as text at the data position, the way a
// formatted scan of the stream reads it. False when there is none.
bool read_number(std::int64_t data, int& value) {
  char text[64];
  std::memset(text, 0, sizeof text);
  probe_seek(data);
  probe_read(text, sizeof text - 1);
  long long v;
  if (std::sscanf(text, "%lld", &v) != 1) return false;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = static_cast<int>(v);
  return true;
}

void set_rotation(std::int64_t degrees) {
  if (degrees > INT32_MAX || degrees < INT32_MIN) return;
  g_probe.leaf_rotation = static_cast<std::int32_t>(degrees);
  int code = rotation_degrees_to_code(degrees);
  if (code >= 0) g_probe.orientation_code = code;
}

void read_packet(const char* name, std::int64_t data, std::uint32_t size) {
  int value;
  if (std::strcmp(name, "JPEG_preview_data") == 0) {
    g_probe.preview_offset = static_cast<std::uint32_t>(data);
    g_probe.preview_length = size;
  } else if (std::strcmp(name, "icc_camera_profile") == 0) {
    g_probe.icc_profile_offset = static_cast<std::uint32_t>(data);
    g_probe.icc_profile_length = size;
  } else if (std::strcmp(name, "ShootObj_back_type") == 0) {
    if (read_number(data, value) && value >= 0 && value < kLeafBackModelCount)
      set_text(g_probe.camera_model, LEAF_BACK_MODELS[value]);
  } else if (std::strcmp(name, "CaptProf_raw_data_rotation") == 0) {
    if (read_number(data, value)) set_rotation(value);
  } else if (std::strcmp(name, "ImgProf_rotation_angle") == 0) {
    // The processing angle is stated on top of the capture rotation; with
    // no capture rotation known it counts from 0.
    if (read_number(data, value)) {
      std::int64_t known = g_probe.leaf_rotation == -1 ? 0 : g_probe.leaf_rotation;
      set_rotation(static_cast<std::int64_t>(value) - known);
    }
  }
  // Planes, mosaic pattern, neutrals and colour matrices serve colour only.
}

}  // namespace

void read_leaf_packets(std::uint32_t offset) {
  NestingGuard guard;
  if (!guard.ok()) return;
  probe_seek(offset);
  while (read_u32() == kPacketMark) {
    if (!take_work()) return;
    read_u32();
    char name[41];
    std::memset(name, 0, sizeof name);
    probe_read(name, 40);
    std::uint32_t size = read_u32();
    std::int64_t data = probe_tell();
    read_packet(name, data, size);
    // A packet's data may be a chain of its own. The chain always moves
    // forward, and the nesting guard and work budget bound the recursion.
    read_leaf_packets(static_cast<std::uint32_t>(data));
    probe_seek(data + size);
  }
}

// CIFF heaps (the Canon CRW container): a directory of typed records at the
// end of each heap, some of which are heaps themselves. Yields the embedded
// JPEG, the names, the shot data and the rotation.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

float float_from_bits(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// A Canon exposure code: 1/32 EV steps, in which a fraction of 12 or 20
// stands for a third or two thirds of a stop.
double canon_ev(int code) {
  const int sign = code < 0 ? -1 : 1;
  const int magnitude = code * sign;
  double fraction = magnitude & 0x1F;
  if (fraction == 12) fraction = 32.0 / 3;
  if (fraction == 20) fraction = 64.0 / 3;
  return sign * ((magnitude & ~0x1F) + fraction) / 32.0;
}

// Shot information: ISO, aperture and exposure as codes, with a plain
// tenths-of-a-second value for exposures the code cannot express. Words 4
// and 5 are the camera's targets; words 21 and 22, where the record holds
// them, the aperture and exposure it used, which are taken then.
void read_shot_info(std::int64_t data, std::uint32_t size) {
  probe_seek(data + 4);
  unsigned iso_code = read_u16();
  g_probe.iso_rating = static_cast<float>(50.0 * std::pow(2.0, iso_code / 32.0 - 4.0));
  read_u16();
  int aperture_code = static_cast<std::int16_t>(read_u16());
  int exposure_code = static_cast<std::int16_t>(read_u16());
  if (size >= 46) {
    probe_seek(data + 42);
    const int used_aperture = static_cast<std::int16_t>(read_u16());
    const int used_exposure = static_cast<std::int16_t>(read_u16());
    if (used_aperture != 0 || used_exposure != 0) {
      g_probe.f_number = static_cast<float>(std::pow(2.0, canon_ev(used_aperture) / 2));
      g_probe.exposure_seconds = static_cast<float>(std::pow(2.0, -canon_ev(used_exposure)));
      return;
    }
  }
  g_probe.f_number = static_cast<float>(std::pow(2.0, aperture_code / 64.0));
  double exposure = std::pow(2.0, -exposure_code / 32.0);
  if (exposure > 1e6) {
    probe_seek(data + 48);
    exposure = read_u16() / 10.0;
  }
  g_probe.exposure_seconds = static_cast<float>(exposure);
}

void read_record(unsigned type, std::uint32_t size, std::uint32_t data) {
  switch (type) {
    case 0x0810:
      probe_read(g_probe.artist_name, sizeof g_probe.artist_name);
      break;
    case 0x080A: {
      probe_read(g_probe.camera_make, sizeof g_probe.camera_make);
      const void* nul = std::memchr(g_probe.camera_make, 0, sizeof g_probe.camera_make);
      std::size_t make_length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) -
                                                               g_probe.camera_make)
                                    : sizeof g_probe.camera_make;
      probe_seek(static_cast<std::int64_t>(data) + static_cast<std::int64_t>(make_length) + 1);
      probe_read(g_probe.camera_model, sizeof g_probe.camera_model);
      break;
    }
    case 0x1810: {
      probe_seek(static_cast<std::int64_t>(data) + 12);
      int code = rotation_degrees_to_code(static_cast<std::int32_t>(read_u32()));
      if (code >= 0) g_probe.orientation_code = code;
      break;
    }
    case 0x1835:
      g_probe.raw_compression = read_u32();
      break;
    case 0x2007:
      g_probe.preview_offset = data;
      g_probe.preview_length = size;
      note_embedded_image("CIFF record 0x2007", data, size);
      break;
    case 0x2008:
      // The thumbnail record: a candidate like every other JPEG the file
      // holds, written when nothing larger is there whole.
      note_embedded_image("CIFF record 0x2008", data, size);
      break;
    case 0x1818: {
      probe_seek(static_cast<std::int64_t>(data) + 4);
      float e = float_from_bits(read_u32());
      float a = float_from_bits(read_u32());
      g_probe.exposure_seconds = static_cast<float>(std::pow(2.0, -static_cast<double>(e)));
      g_probe.f_number = static_cast<float>(std::pow(2.0, a / 2.0));
      break;
    }
    case 0x102A:
      read_shot_info(data, size);
      break;
    case 0x1031:
      probe_seek(static_cast<std::int64_t>(data) + 2);
      g_probe.sensor_width = read_u16();
      g_probe.sensor_height = read_u16();
      break;
    case 0x5029: {
      // Focal length in the entry itself: high half in millimetres, or in
      // 32nds of a millimetre when the low half says 2.
      float focal = static_cast<float>(static_cast<std::int32_t>(size) >> 16);
      if ((size & 0xFFFF) == 2) focal /= 32;
      g_probe.focal_length_mm = focal;
      break;
    }
    case 0x580E:
      g_probe.capture_time = static_cast<std::int32_t>(size);
      break;
    case 0x180E:
      g_probe.capture_time = read_u32();
      break;
    default:
      // Colour tables, white balance, flash and shot-order records are of
      // no use without sensor decoding.
      break;
  }
}

}  // namespace

void read_ciff_heap(std::uint32_t start, std::uint32_t length) {
  NestingGuard guard;
  if (!guard.ok()) return;
  probe_seek(static_cast<std::uint32_t>(start + length - 4));
  probe_seek(static_cast<std::uint32_t>(start + read_u32()));
  unsigned entries = read_u16();
  if (entries > probe_limits::kMaxCiffEntries) return;
  for (unsigned i = 0; i < entries; ++i) {
    if (!take_work()) return;
    unsigned type = read_u16();
    std::uint32_t size = read_u32();
    std::int64_t next = probe_tell() + 4;
    std::uint32_t data = static_cast<std::uint32_t>(start + read_u32());
    probe_seek(data);
    unsigned high = type >> 8;
    if (high == 0x28 || high == 0x30) {
      read_ciff_heap(data, size);
    } else {
      read_record(type, size, data);
    }
    probe_seek(next);
  }
}

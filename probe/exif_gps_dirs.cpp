// The Exif and GPS sub-directories of a TIFF structure.
#include <cmath>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

// OffsetTime, OffsetTimeOriginal, OffsetTimeDigitized: "+hh:mm" or
// "-hh:mm"; anything else is not kept. Each belongs to its own time.
void read_time_offset(const TagHeader& h, CaptureTimeRank rank) {
  if (h.type != 2 || h.count < 6) return;
  char text[6];
  if (probe_read(text, sizeof text) != sizeof text) return;
  auto digit = [&](int i) { return text[i] >= '0' && text[i] <= '9'; };
  if ((text[0] != '+' && text[0] != '-') || !digit(1) || !digit(2) || text[3] != ':' || !digit(4) || !digit(5))
    return;
  char* slot = g_probe.time_offsets[rank - 1];
  std::memcpy(slot, text, sizeof text);
  slot[sizeof text] = 0;
  update_capture_offset();
}

}  // namespace

void read_exif_dir(std::uint32_t base) {
  NestingGuard guard;
  if (!guard.ok()) return;
  const bool raw_exif = may_record_raw_directory(g_probe.raw_exif);
  if (raw_exif) record_raw_directory(g_probe.raw_exif, base);
  unsigned entries = read_u16();
  while (entries--) {
    if (!take_work()) return;
    TagHeader h = read_tag_header(base);
    switch (h.tag) {
      case 33434:
        g_probe.exposure_seconds = static_cast<float>(read_real_of_type(h.type));
        g_probe.exposure_recorded = true;
        break;
      case 33437:
        g_probe.f_number = static_cast<float>(read_real_of_type(h.type));
        g_probe.f_number_recorded = true;
        break;
      case 34855:
        g_probe.iso_rating = read_u16();
        break;
      case 36867:
        read_ranked_exif_time(kCaptureTimeOriginal);
        break;
      case 36868:
        read_ranked_exif_time(kCaptureTimeDigitized);
        break;
      case 37377: {
        // Shutter speed as an APEX value, only where no exposure time is
        // recorded (it is rounded: 1/100 s reads as 1/99); absurd values
        // are ignored.
        if (g_probe.exposure_recorded) break;
        double e = -read_real_of_type(h.type);
        if (e < 128) g_probe.exposure_seconds = static_cast<float>(std::pow(2.0, e));
        break;
      }
      case 37378:
        // The aperture as an APEX value, only where no f-number is recorded.
        if (g_probe.f_number_recorded) break;
        g_probe.f_number = static_cast<float>(std::pow(2.0, read_real_of_type(h.type) / 2));
        break;
      case 37386:
        g_probe.focal_length_mm = static_cast<float>(read_real_of_type(h.type));
        break;
      case 37500:
        read_maker_note(base, 0);
        break;
      case 36880:
        read_time_offset(h, kCaptureTimeModified);
        break;
      case 36881:
        read_time_offset(h, kCaptureTimeOriginal);
        break;
      case 36882:
        read_time_offset(h, kCaptureTimeDigitized);
        break;
      case 40965:
        if (raw_exif && !g_probe.raw_interop.offset) {
          probe_seek(static_cast<std::uint32_t>(read_u32() + base));
          record_raw_directory(g_probe.raw_interop, base);
        }
        break;
      case 40962:
        if (field_text(g_probe.camera_make).starts_with("EASTMAN") && g_probe.tiff_dir_count < 3)
          g_probe.sensor_width = static_cast<std::uint16_t>(read_u32());
        break;
      case 40963:
        if (field_text(g_probe.camera_make).starts_with("EASTMAN") && g_probe.tiff_dir_count < 3)
          g_probe.sensor_height = static_cast<std::uint16_t>(read_u32());
        break;
      default:
        break;
    }
    probe_seek(h.next);
  }
}

void read_gps_dir(std::uint32_t base) {
  if (may_record_raw_directory(g_probe.raw_gps)) record_raw_directory(g_probe.raw_gps, base);
  unsigned entries = read_u16();
  while (entries--) {
    if (!take_work()) return;
    TagHeader h = read_tag_header(base);
    switch (h.tag) {
      case 1: case 3: case 5:
        g_probe.gps_words[29 + h.tag / 2] = static_cast<std::uint32_t>(probe_getc());
        break;
      case 2: case 4: case 7:
        for (int i = 0; i < 6; ++i) g_probe.gps_words[h.tag / 3 * 6 + i] = read_u32();
        break;
      case 6:
        g_probe.gps_words[18] = read_u32();
        g_probe.gps_words[19] = read_u32();
        break;
      case 18: case 29: {
        // Up to 11 characters into three words (12 bytes) of the GPS block.
        std::size_t size = h.count < 12 ? h.count : 12;
        char text[12];
        std::uint32_t* words = g_probe.gps_words + (h.tag == 18 ? 20 : 23);
        std::memcpy(text, words, 12);
        read_text_line(text, size);
        std::memcpy(words, text, 12);
        break;
      }
      default:
        break;
    }
    probe_seek(h.next);
  }
}

// Which Exif an extracted preview carries, the one default among the modes,
// and the names and stored codes the command line and the settings file use
// for them. Everything that offers a default (the command, a settings file
// without key 5, the Windows extension through the settings, the library's
// VELTRANO_EXIF_DEFAULT and so the Node.js package) takes it from here.
#pragma once

#include <cstdint>

// Which Exif an extracted preview carries.
//   basic: the preview's own Exif when it has one, else a fixed block built
//          from what the probe learnt (make, model, one DateTime, exposure,
//          aperture, ISO, focal length, orientation, GPS).
//   full:  an Exif segment built from the RAW's own IFD0, Exif, GPS and
//          Interop directories (values as stored, maker note left out),
//          replacing the preview's own; every other segment is kept.
//   none:  the preview's bytes as the file stores them, nothing inserted
//          (for callers that apply the orientation themselves).
// In every mode the buffer starts with the start-of-image marker FF D8.
enum class ExifMode : std::uint8_t { basic, full, none };

// The mode of an extraction that names none.
inline constexpr ExifMode kDefaultExifMode = ExifMode::full;

// The mode's word on the command line and in `veltrano settings`.
constexpr const char* exif_mode_name(ExifMode mode) {
  switch (mode) {
    case ExifMode::basic: return "basic";
    case ExifMode::full: return "full";
    case ExifMode::none: return "none";
  }
  return "basic";
}

// The settings file's key 5: 0 basic, 1 full (none is no stored choice).
// Any other stored number reads as basic, the small block.
constexpr std::int32_t exif_mode_setting(ExifMode mode) { return mode == ExifMode::full ? 1 : 0; }
constexpr ExifMode exif_mode_of_setting(std::int32_t stored) {
  return stored == 1 ? ExifMode::full : ExifMode::basic;
}

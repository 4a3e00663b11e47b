// The output choices of the user, bound to keys 0..6 of section 0 of the
// settings store.
#pragma once

#include <cstdint>

#include "platform/native_path.h"
#include "probe/exif_mode.h"

// Section and keys of the record in the settings store.
inline constexpr std::int32_t kRecordSection = 0;
inline constexpr std::int32_t kKeyMakeSmallerCopies = 0;
inline constexpr std::int32_t kKeyMaxWidth = 1;
inline constexpr std::int32_t kKeyMaxHeight = 2;
inline constexpr std::int32_t kKeyAddSuffix = 3;
inline constexpr std::int32_t kKeyUseSubfolders = 4;
inline constexpr std::int32_t kKeyExifMode = 5;
inline constexpr std::int32_t kKeyScaledQuality = 6;

// JPEG quality of re-encoded scaled copies: the range, and the default
// (high enough that a copy shows no blocks, as the camera's own previews).
inline constexpr std::int32_t kMinScaledQuality = 1;
inline constexpr std::int32_t kMaxScaledQuality = 100;
inline constexpr std::int32_t kDefaultScaledQuality = 95;

struct SettingsRecord {
  std::int32_t makeSmallerCopies = 0;  // 1: also write a scaled-down copy
  std::int32_t maxWidth = 800;         // box of the scaled copy, in pixels
  std::int32_t maxHeight = 800;
  bool addSuffix = true;      // output names carry "_VLTR"
  bool useSubfolders = true;  // outputs go into folders next to the RAW file
  // Key 5 as exif_mode_setting stores it (1 full, 0 basic); a file without
  // key 5 means the default mode.
  std::int32_t exifMode = exif_mode_setting(kDefaultExifMode);
  // Key 6; a file without it means the default.
  std::int32_t scaledQuality = kDefaultScaledQuality;

  // Resets to the defaults, then takes every member whose entry exists in
  // TheSettingsStore() with kind Integer. No range is enforced.
  void LoadFromStore();
  // Stores the members as Integer entries, in key order; exifMode and
  // scaledQuality only when not the default or the store holds them already.
  void SaveToStore() const;

  ExifMode Exif() const { return exif_mode_of_setting(exifMode); }
  // The stored quality, or the default when it is out of range.
  std::int32_t ScaledQuality() const {
    return scaledQuality >= kMinScaledQuality && scaledQuality <= kMaxScaledQuality ? scaledQuality
                                                                                     : kDefaultScaledQuality;
  }

  // Sub-folder pattern next to the RAW file; empty: the RAW file's folder.
  //   useSubfolders: "extracted_jpegs" / scaled "extracted_jpegs_%W"
  NativePath FolderPattern(bool scaled) const;
  // File-name pattern:
  //   addSuffix:                "%N_VLTR.jpg" / scaled "%N_VLTR_%W.jpg"
  //   no suffix, no subfolders: "%N.jpg"      / scaled "%N_%W.jpg"
  //   no suffix, subfolders:    "%N.jpg"      / scaled "%N.jpg"
  NativePath FilePattern(bool scaled) const;
};

// The Exif block inserted into a preview that carries none: a 1376-byte TIFF
// structure built from what the probe learnt about the file, written in the
// host's byte order and wrapped in an APP1 segment.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kExifBlockSize = 1376;
// FF E1, segment length 1384 (2 + 6 + 1376) big-endian, "Exif", 0, 0.
inline constexpr std::uint8_t APP1_HEAD[10] = {0xFF, 0xE1, 0x05, 0x68, 'E', 'x', 'i', 'f', 0, 0};

// Offsets inside the block.
namespace exif_block {
inline constexpr std::size_t kExifDir = 294;
// The Exif directory (4 entries) ends with its next-directory word at 344.
inline constexpr std::size_t kGpsDir = 348;
inline constexpr std::size_t kXResolution = 476;
inline constexpr std::size_t kYResolution = 484;
inline constexpr std::size_t kExposure = 492;
inline constexpr std::size_t kFNumber = 500;
inline constexpr std::size_t kFocalLength = 508;
inline constexpr std::size_t kGpsData = 516;
inline constexpr std::size_t kDescription = 620;
inline constexpr std::size_t kMake = 1132;
inline constexpr std::size_t kModel = 1196;
inline constexpr std::size_t kSoftware = 1260;
inline constexpr std::size_t kDateTime = 1292;
inline constexpr std::size_t kArtist = 1312;
}  // namespace exif_block

// Software text used when the caller gives none.
inline constexpr char kProbeDefaultSoftware[] = "Veltrano";

// Fills block[0..1375] from the calling thread's probe record.
void build_exif_header_block(std::uint8_t* block);

// Values as both Exif builders write them: the Exif Orientation of the
// probe's orientation code; a value x 1000000 in single precision truncated
// to 32 bits (saturating); a number truncated to 32 bits (saturating); and
// "YYYY:MM:DD hh:mm:ss" of a capture time with its NUL (a year beyond 9999
// is cut).
int exif_orientation();
std::int32_t exif_millionths(float value);
std::int32_t exif_truncate(float value);
void format_exif_time(std::int64_t seconds, char (&text)[20]);

// Date and time of seconds since 1970 broken down as UTC.
struct UtcTime {
  int year, month, day, hour, minute, second;
};
UtcTime utc_breakdown(std::int64_t seconds);

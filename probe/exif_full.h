// The full Exif option: the preview's Exif APP1 segment built from the RAW's
// own IFD0 (descriptive tags), Exif, GPS and Interop directories, their
// values copied as stored. Formats without such directories get what the
// probe knows, as in the basic block, plus DateTimeOriginal.
#pragma once

#include <cstddef>
#include <cstdint>

// Builds the TIFF structure of the Exif segment (what follows "Exif\0\0")
// into out from the calling thread's probe record, re-reading the recorded
// directories through the probe file. software (may be null) becomes the
// Software text; the pixel size (0 when unknown) the PixelXDimension and
// PixelYDimension. preview_exif_tiff/preview_exif_end (0 when none) bound
// the TIFF structure of the preview's own Exif segment, whose values join
// the RAW's where the RAW's own directories are known to be poorer (RW2).
// Returns the structure's size, never more than capacity, or 0 when nothing
// could be built.
std::size_t build_full_exif(std::uint8_t* out, std::size_t capacity, const char* software,
                            std::uint32_t pixel_width, std::uint32_t pixel_height,
                            std::int64_t preview_exif_tiff = 0, std::int64_t preview_exif_end = 0);

// The preview at offset/length in the probe file with its Exif replaced by
// the full one: start marker, the new APP1 segment, then every other segment
// of the preview in order and its scan data unchanged. Returns a buffer from
// the C heap and its length, or null when the preview cannot be assembled
// this way (the caller falls back to the basic block).
unsigned char* assemble_full_exif_preview(std::int64_t offset, std::uint32_t length, const char* software,
                                          std::uint32_t* out_length);

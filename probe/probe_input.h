// Byte-order-aware input primitives shared by every reader of the probe.
// All of them read g_probe.probe_file at its current position and honour
// g_probe.byte_order (0x4949 little-endian, anything else big-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "probe/probe_state.h"

// Orientation code -> Exif Orientation value ("12435867").
inline constexpr char ORIENTATION_TO_EXIF[] = "12435867";
// TIFF Orientation tag value (mod 8) -> orientation code ("50132467").
inline constexpr char EXIF_TO_ORIENTATION[] = "50132467";
// Value size of a directory entry by field type 0..13.
inline constexpr char DIR_TYPE_SIZES[] = "11124811248488";

// Position helpers over the probe file.
inline void probe_seek(std::int64_t pos) { g_probe.probe_file->seek(pos); }
inline std::int64_t probe_tell() { return g_probe.probe_file->tell(); }
inline std::size_t probe_read(void* dst, std::size_t n) { return g_probe.probe_file->read(dst, n); }
inline int probe_getc() { return g_probe.probe_file->get_byte(); }
inline std::int64_t probe_file_size() { return g_probe.probe_file->size(); }

std::uint16_t decode_u16(const std::uint8_t* p);
std::uint32_t decode_u32(const std::uint8_t* p);
std::uint16_t read_u16();
std::uint32_t read_u32();
std::uint32_t read_int_of_type(unsigned type);
double read_real_of_type(unsigned type);
void read_u16_array(std::uint16_t* dst, std::size_t n);

// Value size of one element of a field type (types >= 14 count as 1).
unsigned dir_type_size(unsigned type);

struct TagHeader {
  unsigned tag;
  unsigned type;
  std::uint32_t count;
  std::int64_t next;  // position just after the entry's 4-byte value field
};
// Reads a 12-byte directory entry head and leaves the stream at its value
// (seeking to base + offset when the value does not fit in the entry).
TagHeader read_tag_header(std::uint32_t base);

// Records the current position, base (`base` argument of the reader) and
// byte order as one of the RAW's own directories.
void record_raw_directory(RawDirectoryRef& ref, std::uint32_t base);
// Whether an Exif or GPS directory being read is the RAW's own: the first
// one, pointed to by the recorded IFD0 or read directly by a container
// reader (outside every TIFF directory), and never from a companion file.
bool may_record_raw_directory(const RawDirectoryRef& ref);

// Reads a 19-character "YYYY:MM:DD hh:mm:ss" text (stored back to front when
// reversed) and sets capture_time from it as a wall-clock time.
void read_exif_time(bool reversed);

// Reads an Exif time as read_exif_time does, and keeps it as the capture
// time unless a time of a higher rank is held already (an equal rank
// replaces it); the capture offset follows the time kept.
void read_ranked_exif_time(CaptureTimeRank rank);
// Sets capture_offset to the recorded offset of the time capture_time holds.
void update_capture_offset();

// Reads a text line as C's fgets does: at most size-1 bytes, ending after a
// newline or at the end of the file, NUL-ended. When nothing could be read
// the buffer is left as it was.
void read_text_line(char* buffer, std::size_t size);

// Seeks to offset and reads 16-bit characters, keeping each low byte, up to
// a zero or size-1 characters. The result is NUL-ended.
void read_text_at(std::int64_t offset, char* buffer, std::size_t size);

// True when the bytes at `offset` (> 0) begin with a start-of-image marker
// followed by another marker.
bool begins_as_jpeg_at(std::int64_t offset);
// True when besides the file holds all `length` bytes.
bool is_whole_jpeg_at(std::int64_t offset, std::uint32_t length);

// One segment of a JPEG before its scan: its marker byte, where its marker
// lies (counted from the JPEG's first byte), its whole size (marker and
// length field included) and its first payload bytes (zero beyond it).
struct JpegSegment {
  unsigned marker;
  std::uint32_t at, size;
  std::uint8_t head[6];
  bool is_exif() const { return marker == 0xE1 && size >= 10 && std::memcmp(head, "Exif\0", 5) == 0; }
};

// Walks the segments of the JPEG at offset (length bytes long) that come
// before its scan, at most kMaxPreviewSegments of them, calling visit for
// each until it answers false. Scan data, a marker without a length, or a
// segment that runs past the JPEG ends the walk. Returns the position
// (from the JPEG's start) where the walk stopped.
template <class Visit>
std::uint32_t walk_leading_segments(std::int64_t offset, std::uint32_t length, Visit&& visit) {
  std::uint32_t pos = 2;
  for (unsigned s = 0; s < probe_limits::kMaxPreviewSegments && std::uint64_t{pos} + 4 <= length; ++s) {
    std::uint8_t m[4];
    probe_seek(offset + pos);
    if (probe_read(m, 4) != 4 || m[0] != 0xFF) break;
    const unsigned marker = m[1];
    if (marker == 0xDA || marker == 0xD8 || marker == 0xD9 || marker == 0x01 || marker == 0xFF ||
        (marker >= 0xD0 && marker <= 0xD7))
      break;
    const std::uint32_t size = 2u + (m[2] << 8 | m[3]);
    if (size < 4 || std::uint64_t{pos} + size > length) break;
    JpegSegment segment{marker, pos, size, {}};
    probe_read(segment.head, size - 4 < sizeof segment.head ? size - 4 : sizeof segment.head);
    if (!visit(segment)) break;
    pos += size;
  }
  return pos;
}

// Where the first Exif APP1 segment among the leading segments of the JPEG
// at offset lies (from the JPEG's start), or 0 when it has none.
std::uint32_t find_exif_segment(std::int64_t offset, std::uint32_t length);

// First position of pattern within data, or -1.
std::ptrdiff_t find_bytes(const void* data, std::size_t length, const void* pattern,
                          std::size_t pattern_length);

// Layout test: 1 when one of the bytes at 3284 + 3340k (k < 100) exceeds 15.
int scan_stride_bytes();

// Sends one diagnostic (printf-style, no line end) to the calling thread's
// target; with_file, it names the probe file ("<file>: <message>").
void probe_diagnostic(bool with_file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The data-error path: prints the first error of a probe, counts all.
void report_data_error();

// The out-of-memory path: for a null pointer prints the diagnostic and
// throws ProbeAbort.
void require_memory(const void* pointer, const char* routine);

// Reads JPEG markers from the current position. With info_only, learns size,
// bits and colours; answers 1 on success, 0 when the data is not a JPEG.
int ljpeg_start(LosslessJpegHeader& header, int info_only);

// A camera's wall-clock date and time (no zone) to seconds since 1970,
// counted as if it were UTC, so that breaking the result down as UTC gives
// back exactly the recorded fields whatever the host's zone. year is the
// full year, month 1-12; fields out of range carry over.
std::int64_t wall_clock_to_seconds(int year, int month, int day, int hour, int minute, int second);

// Maps a rotation angle in degrees to an orientation code: 0 -> 0, 90 -> 6,
// 180 -> 3, 270 -> 5 after normalising to 0..359; -1 for any other angle.
int rotation_degrees_to_code(std::int64_t degrees);

// An orientation code safe to index the 8-entry tables with: codes 0..7 are
// kept, multiples of 90 above 7 are mapped as rotation angles, anything else
// is 0.
int usable_orientation_code(std::int32_t code);

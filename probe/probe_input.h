// Byte-order-aware input primitives shared by every reader of the probe.
// All of them read g_probe.probe_file at its current position and honour
// g_probe.byte_order (0x4949 little-endian, anything else big-endian).
#pragma once

#include <cstddef>
#include <cstdint>

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

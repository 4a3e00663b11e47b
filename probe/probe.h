// The RAW probe's public face: the two operations the rest of the system
// calls, and a report of what a probe found (for the command line's `info`).
//
// Each thread may run one probe at a time; different threads may probe
// different files at once.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "platform/native_path.h"
#include "probe/exif_mode.h"
#include "veltrano_version.h"

// Software text the extraction job hands to the probe: "Veltrano v" and the
// product version.
inline constexpr char kVeltranoSoftware[] = "Veltrano v" VELTRANO_VERSION_TEXT;

// Where the calling thread's probe diagnostics go (the first data error of
// a probe, running out of memory, an unreadable companion file). By default
// each is written to the standard error stream as one line, prefixed by the
// file's name and ": " where it names the file. A caller that must not print
// (the library) sends them to a handler of its own, or nowhere: a target
// with standard_error false and no handler drops them. The handler gets the
// file's name (empty when the message names the file itself) and the
// message without its line end; it runs on the probing thread, inside the
// probe, and must not probe.
using ProbeDiagnosticHandler = void (*)(void* context, const char* file, const char* message);
struct ProbeDiagnosticTarget {
  bool standard_error = true;
  ProbeDiagnosticHandler handler = nullptr;
  void* context = nullptr;
};
// Sets the calling thread's target; returns the one it replaces.
ProbeDiagnosticTarget set_probe_diagnostics(const ProbeDiagnosticTarget& target);

// What one probe makes of a file: the one rule that tells a file which is
// not a RAW file this program reads (a JPEG, a text file, a file of a kind
// the probe does not know) from a RAW file that holds no usable preview.
enum class ProbeFileKind : std::uint8_t {
  unreadable,           // the file could not be opened, or the probe ran out of memory
  not_raw,              // read to the end: not a RAW file of a format the probe reads
  raw_without_preview,  // a RAW file, but it holds no usable JPEG preview
  raw_with_preview,     // a RAW file with a JPEG preview that can be extracted
};

// Probes the file once and says what it is.
ProbeFileKind probe_file_kind(const NativePath& path);

// 1 when the file opens, the probe completes, and the file holds an
// embedded JPEG preview that can be extracted (probe_file_kind says
// raw_with_preview); otherwise 0.
int probe_has_jpeg_preview(const NativePath& path);

// Returns the preview as one complete JPEG file in a buffer from the C heap
// (release it with std::free), with its Exif as exif_mode says. software_text
// (may be null) becomes the written Software text, at most 31 characters.
// rotated is 1 when the display swaps width and height. Answers 1 exactly
// when a buffer was returned; on 0 *buffer is null, or untouched when the
// file could not be opened or the probe aborted.
int probe_extract_jpeg_preview(const NativePath& path, const char* software_text,
                               unsigned char** buffer, std::uint32_t* length,
                               std::uint32_t* rotated, ExifMode exif_mode);

// An image found embedded in the file, whether or not it was chosen.
struct EmbeddedImageReport {
  std::string where;  // the structure that holds it
  std::int64_t offset = 0;
  std::uint32_t length = 0;
  unsigned width = 0, height = 0;  // 0 when unknown
  bool whole = false;   // the file holds all its bytes
  bool jpeg = false;    // it begins with a JPEG start-of-image marker and another marker
  bool chosen = false;  // the probe's preview
};

// What one probe found, for reports.
struct ProbeReport {
  bool opened = false;
  std::error_code open_error;  // why the file could not be opened (clear: not a regular file)
  bool aborted = false;
  // make and model: the names as the probe identifies the camera, shortened
  // ("NIKON", "D7100"). recorded_make and recorded_model: the names as the
  // file records them ("NIKON CORPORATION", "NIKON D7100"), which outputs
  // carry; the identified ones when the file records none.
  std::string make, model, model_detail, description, artist;
  std::string recorded_make, recorded_model;
  // The camera's wall-clock time as seconds counted as if UTC (its UTC
  // breakdown is the recorded date and time), and the recorded offset from
  // UTC ("+09:00") when the file states one, else empty.
  std::int64_t capture_time = 0;
  std::string capture_offset;
  float iso = 0, exposure = 0, f_number = 0, focal_length = 0;
  bool has_gps = false;
  double gps_latitude = 0, gps_longitude = 0, gps_altitude = 0;
  char gps_latitude_ref = 0, gps_longitude_ref = 0;
  int gps_altitude_ref = 0;
  std::int32_t orientation_code = 0;
  int exif_orientation = 1;
  std::int64_t preview_offset = 0;
  std::uint32_t preview_length = 0;
  unsigned preview_width = 0, preview_height = 0;
  std::string preview_kind;
  bool has_jpeg_preview = false;
  // What the file is, by the rule of probe_file_kind (unreadable when the
  // file did not open or the probe aborted).
  ProbeFileKind kind = ProbeFileKind::unreadable;
  std::vector<EmbeddedImageReport> images;  // in the order the probe found them
  std::uint32_t dng_version = 0;
  std::int32_t raw_supported = 0;
  std::uint32_t data_errors = 0;
  // Input the probe read: reads issued to the file and bytes returned.
  std::uint64_t input_reads = 0, input_bytes = 0;
};

// Probes the file and fills the report; false when it cannot be opened.
bool probe_report(const NativePath& path, ProbeReport& report);

// The capture time as the camera recorded it, "YYYY-MM-DDThh:mm:ss", with
// the recorded offset from UTC appended where the file states one; empty
// when no time is recorded.
std::string capture_time_text(const ProbeReport& report);

// How one extraction ended.
enum class ExtractOutcome : std::uint8_t {
  extracted,      // a buffer was returned
  cannot_open,    // the file could not be opened (the report's open_error says why)
  aborted,        // the probe ran out of memory
  no_preview,     // the probe completed; the file holds no usable JPEG preview
  out_of_memory,  // no buffer could be allocated for the preview
  read_failed,    // the preview's bytes could not all be read
};

struct ExtractedPreview {
  unsigned char* buffer = nullptr;  // C heap; the caller releases it with std::free
  std::uint32_t length = 0;
  std::uint32_t rotated = 0;        // 1 when the display swaps width and height
  bool exif_written = false;        // the buffer carries an Exif segment built here
};

// Extraction and report in one probe pass: the preview as
// probe_extract_jpeg_preview returns it, and (when report is given) what
// probe_report would say of the file. `preview` holds a buffer exactly when
// the answer is `extracted`.
ExtractOutcome probe_extract_preview(const NativePath& path, const char* software_text, ExifMode exif_mode,
                                     ExtractedPreview& preview, ProbeReport* report = nullptr);

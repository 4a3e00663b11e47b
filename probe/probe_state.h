// The record of everything the RAW probe learns about the file it is
// probing, and the bounded reader all probe code reads the file through.
//
// The record is thread_local: each thread probes one file at a time, and
// several threads can probe different files at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "probe/probe_limits.h"

class NativeFile;

// Which writer a preview needs. Only jpeg_thumb previews are extracted.
enum class PreviewKind : std::uint8_t {
  jpeg_thumb,
  ppm_thumb,
  layer_thumb,
  rollei_thumb,
  foveon_thumb,
};

const char* preview_kind_name(PreviewKind kind);

// Decoder choices are recorded for completeness of the model; this system
// never decodes sensor data or non-JPEG previews, so only "none" versus
// "some" matters (one rule tests whether a sensor decoder was chosen).
enum class DecoderChoice : std::uint8_t {
  none,
  recorded,
};

// One summary per TIFF directory, in reading order.
struct TiffDirInfo {
  std::int32_t width;
  std::int32_t height;
  std::int32_t bits_per_sample;
  std::int32_t compression;
  std::int32_t photometric;
  std::int32_t data_offset;
  std::int32_t orientation;
  std::int32_t samples_per_pixel;
  std::int32_t byte_count;
  // NewSubfileType (254): bit 0 marks a reduced-resolution copy of the
  // image, which a DNG never uses for its raw image.
  std::int32_t subfile_type;
};

// Result of the JPEG marker reader in information mode.
struct LosslessJpegHeader {
  int bits;
  int height;
  int width;
  int colours;
  int sraw;
  int predictor;
  int restart_interval;
};

// One image a reader found in the file, whether or not it became the
// preview: listed by reports so that the choice can be followed.
struct EmbeddedImage {
  const char* where;  // static text naming the structure that holds it
  std::int64_t offset;
  std::uint32_t length;
  std::uint32_t width, height;  // 0 when the container does not say
};

// The file under probe: a bounded reader that knows the file's size. Reads
// beyond the end are short; the position may stand anywhere at or after 0.
// A few small read windows keep the many tiny reads of directory walking
// cheap, also when a walker goes back and forth between a directory and
// the values it points to elsewhere; large block reads go straight to the
// source. A window loads its whole size, except for a read that jumps ahead
// of the last one, which loads about a header: walking the chunks of a
// large video must not read the video. What one probe may read in all is
// bounded (input_budget): past it, reads come back short, as at the end of
// the file.
class ProbeFile {
 public:
  explicit ProbeFile(std::unique_ptr<NativeFile> file);
  explicit ProbeFile(std::vector<std::uint8_t> bytes);  // in-memory (tests, fuzzing)
  ~ProbeFile();
  ProbeFile(const ProbeFile&) = delete;
  ProbeFile& operator=(const ProbeFile&) = delete;

  std::int64_t size() const { return size_; }
  std::int64_t tell() const { return pos_; }
  // Like fseek(SEEK_SET): a negative target leaves the position unchanged.
  void seek(std::int64_t pos) {
    if (pos >= 0) pos_ = pos;
  }
  void skip(std::int64_t delta) { seek(pos_ + delta); }
  bool at_end() const { return pos_ >= size_; }
  // Reads up to n bytes; returns the count read. Reads that lie inside the
  // window used last are served inline; the rest goes through read_slow.
  std::size_t read(void* dst, std::size_t n) {
    if (pos_ >= win_start_ && pos_ - win_start_ + static_cast<std::int64_t>(n) <=
                                  static_cast<std::int64_t>(win_len_)) {
      std::memcpy(dst, win_data_ + (pos_ - win_start_), n);
      pos_ += static_cast<std::int64_t>(n);
      return n;
    }
    return read_slow(dst, n);
  }
  // What the probe cost in input: reads issued to the file (or the memory
  // image) and the bytes they returned.
  std::uint64_t source_reads() const { return source_reads_; }
  std::uint64_t source_bytes() const { return source_bytes_; }
  // The most input this file may cost (see input_budget_for), and whether
  // a read has been cut short by it.
  std::uint64_t input_budget() const { return input_budget_; }
  bool input_budget_spent() const { return budget_spent_; }
  // Another budget, for readers that must see every byte whatever they
  // cost (the read-pattern tests).
  void set_input_budget(std::uint64_t bytes) { input_budget_ = bytes; }
  // One byte, or -1 at the end.
  int get_byte() {
    if (pos_ >= win_start_ && pos_ < win_start_ + static_cast<std::int64_t>(win_len_)) {
      return win_data_[static_cast<std::size_t>(pos_++ - win_start_)];
    }
    unsigned char b;
    return read(&b, 1) == 1 ? b : -1;
  }

 private:
  struct Window {
    std::unique_ptr<std::uint8_t[]> data;  // allocated on first use
    std::int64_t start = 0;
    std::size_t len = 0;
    std::uint64_t last_use = 0;  // 0: never loaded
  };

  std::size_t read_slow(void* dst, std::size_t n);
  std::size_t read_source(std::int64_t offset, void* dst, std::size_t n);
  std::size_t next_fill(std::size_t want) const;
  bool use_window_holding(std::int64_t pos);
  void use_window(std::size_t index);

  std::unique_ptr<NativeFile> file_;
  std::vector<std::uint8_t> memory_;
  std::int64_t size_ = 0;
  std::int64_t pos_ = 0;
  Window windows_[probe_limits::kReadWindows];
  std::size_t current_ = 0;  // the window used last, mirrored below for the inline paths
  const std::uint8_t no_bytes_[1] = {};
  const std::uint8_t* win_data_ = no_bytes_;
  std::int64_t win_start_ = 0;
  std::size_t win_len_ = 0;
  std::uint64_t uses_ = 0;
  bool loaded_ = false;  // whether any window has been loaded yet
  std::uint64_t input_budget_ = 0;
  bool budget_spent_ = false;
  std::uint64_t source_reads_ = 0;
  std::uint64_t source_bytes_ = 0;
};

// The input budget of a file of `size` bytes: a few times the file, plus
// room for the small files whose walk rereads their headers.
std::uint64_t input_budget_for(std::int64_t size);

// Where one of the RAW's own metadata directories lies, kept so that the
// full Exif option can copy it entry by entry.
struct RawDirectoryRef {
  std::int64_t offset;       // position of the entry count; 0: none recorded
  std::uint32_t base;        // what the directory's value offsets count from
  std::uint16_t byte_order;  // 0x4949 or 0x4D4D
};

// The recorded times a capture time can come from, weakest first. Times a
// container states in its own fields count as kCaptureTimeOther.
enum CaptureTimeRank : std::uint8_t {
  kCaptureTimeOther = 0,
  kCaptureTimeModified = 1,   // DateTime, 306
  kCaptureTimeDigitized = 2,  // DateTimeDigitized, 36868
  kCaptureTimeOriginal = 3,   // DateTimeOriginal, 36867
};

// The out-of-memory exit: thrown by require_memory, caught by the entry
// points, which then answer failure.
struct ProbeAbort : std::runtime_error {
  ProbeAbort() : std::runtime_error("probe aborted") {}
};

struct ProbeState {
  ProbeFile* probe_file = nullptr;
  // The path of the file, UTF-8; owned by whoever opened the file.
  const char* probe_file_name = "";
  std::uint16_t byte_order = 0;

  // Names as the probe identifies the camera: shortened and tidied
  // ("NIKON", "D7100"); the per-camera rules test these.
  char camera_make[64] = {};
  char camera_model[64] = {};
  // Names as the file records them (IFD0 271/272, or the container's own
  // name fields), before any shortening: what outputs carry. Empty when the
  // file records none, as for formats known by their size alone.
  char recorded_make[64] = {};
  char recorded_model[64] = {};
  char model_detail[64] = {};
  char image_description[512] = {};
  char artist_name[64] = {};

  std::int64_t capture_time = {};
  // Which recorded time capture_time holds (see CaptureTimeRank); a time of
  // a lower rank never replaces one of a higher rank, whatever the order in
  // which the file holds them.
  std::uint8_t capture_time_rank = {};
  // The offset from UTC the file records for the time capture_time holds
  // ("+09:00"); empty when none.
  char capture_offset[8] = {};
  // The offsets the file records for DateTime, DateTimeDigitized and
  // DateTimeOriginal (tags 36880, 36882, 36881), indexed by rank - 1.
  char time_offsets[3][8] = {};
  float iso_rating = {};
  float exposure_seconds = {};
  float f_number = {};
  // Whether ExposureTime (33434) and FNumber (33437) were read: the APEX
  // values (37377, 37378) stand in only for a missing one.
  bool exposure_recorded = {};
  bool f_number_recorded = {};
  float focal_length_mm = {};
  std::uint32_t gps_words[32] = {};

  // File position of the preview; a 64-bit value, since containers of
  // the ISO base-media kind place it anywhere in files larger than 4 GiB.
  std::int64_t preview_offset = {};
  std::uint32_t preview_length = {};
  std::uint16_t preview_width = {};
  std::uint16_t preview_height = {};
  std::uint32_t preview_format_bits = {};
  PreviewKind preview_kind = {};
  DecoderChoice preview_decoder = {};

  std::int32_t orientation_code = {};
  std::int32_t tiff_orientation = {};
  TiffDirInfo tiff_dirs[probe_limits::kMaxTiffDirs] = {};
  std::uint32_t tiff_dir_count = {};

  std::uint16_t sensor_width = {};
  std::uint16_t sensor_height = {};
  std::uint16_t image_width = {};
  std::uint16_t image_height = {};
  std::uint32_t raw_sample_bits = {};
  std::uint32_t raw_compression = {};
  std::uint32_t raw_sample_count = {};
  std::uint32_t raw_offset = {};
  std::int32_t raw_supported = {};
  // The file is of a RAW format the probe reads (its container named the
  // camera), not a JPEG file or a file of no kind the probe knows.
  bool raw_format = {};
  std::uint32_t dng_version = {};
  DecoderChoice sensor_decoder = {};
  std::uint32_t icc_profile_offset = {};
  std::uint32_t icc_profile_length = {};
  std::int32_t x3f_flag = {};
  std::uint32_t data_error_count = {};

  // Length of an Imacon image (tag 46275), needed by its geometry tag.
  std::uint32_t imacon_image_length = {};

  // Sony SR2 private block (announced by tags 29184, 29185, 29217); read
  // only to be skipped, since it feeds colour data alone.
  std::uint32_t sr2_offset = {};
  std::uint32_t sr2_length = {};
  std::uint32_t sr2_key = {};

  // Rotation in degrees stated by Leaf metadata packets; -1 = none yet.
  std::int32_t leaf_rotation = {};

  // Every embedded image found, in the order found (see note_embedded_image).
  EmbeddedImage embedded_images[probe_limits::kMaxEmbeddedImages] = {};
  std::uint32_t embedded_image_count = {};

  // The RAW's IFD0, Exif, GPS and Interop directories (first of each).
  RawDirectoryRef raw_ifd0 = {};
  RawDirectoryRef raw_exif = {};
  RawDirectoryRef raw_gps = {};
  RawDirectoryRef raw_interop = {};
  // TIFF directories being read (nested), whether the innermost one is the
  // recorded IFD0, and whether a companion file is being read instead of
  // the RAW (its directories are never recorded).
  int tiff_dir_depth = {};
  bool reading_ifd0 = {};
  bool reading_companion = {};

  // Bounds on work, see probe_limits.h.
  int nesting_depth = {};
  std::uint32_t work_left = {};
};

// The calling thread's probe record. Constant-initialised and trivially
// destructible, so every access is a plain thread-local access.
extern thread_local constinit ProbeState g_probe;

// Resets the record as a probe starts (file and name are kept).
void reset_probe_state();

// Takes one unit of the probe's work budget; false when it is spent, in which
// case the caller stops walking its structure.
inline bool take_work() {
  if (g_probe.work_left == 0) return false;
  --g_probe.work_left;
  return true;
}

// Remembers an image a reader found at offset (> 0). A second note of the
// same offset completes the first (length and size when given), so readers
// that learn offset and length from separate fields may note each time.
void note_embedded_image(const char* where, std::int64_t offset, std::uint32_t length,
                         unsigned width = 0, unsigned height = 0);

// Marks one level of reader nesting for its scope; `ok()` is false when the
// depth limit is reached and the reader must return without reading.
class NestingGuard {
 public:
  NestingGuard() : ok_(g_probe.nesting_depth < probe_limits::kMaxNestingDepth) {
    if (ok_) ++g_probe.nesting_depth;
  }
  ~NestingGuard() {
    if (ok_) --g_probe.nesting_depth;
  }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// Length of a fixed text field, never reading past its end.
template <std::size_t N>
std::size_t text_length(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n]) ++n;
  return n;
}

// The text of a fixed field: up to its first NUL, or the whole field when it
// holds none (a block read of a whole field may leave no NUL). Every test of
// a field's text goes through this view, so no search runs past the field
// into the one after it.
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
  return {field, text_length(field)};
}

inline bool text_contains(std::string_view text, std::string_view word) {
  return text.find(word) != std::string_view::npos;
}

// Forces a NUL into the last position of every text field, so that block
// reads of whole fields (which may carry no NUL) read as texts safely.
void terminate_probe_texts();

// The camera's names as outputs and reports carry them: the recorded ones,
// or the identified ones when the file records none.
inline std::string_view written_make() {
  return field_text(g_probe.recorded_make[0] ? g_probe.recorded_make : g_probe.camera_make);
}
inline std::string_view written_model() {
  return field_text(g_probe.recorded_model[0] ? g_probe.recorded_model : g_probe.camera_model);
}

// Safe bounded copy of a C text into a fixed field (always NUL-ended).
template <std::size_t N>
void set_text(char (&field)[N], const char* text) {
  std::size_t i = 0;
  for (; i + 1 < N && text[i]; ++i) field[i] = text[i];
  for (; i < N; ++i) field[i] = 0;
}

#include "probe/probe_input.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/native_file.h"
#include "probe/probe.h"

thread_local constinit ProbeState g_probe;

const char* preview_kind_name(PreviewKind kind) {
  switch (kind) {
    case PreviewKind::jpeg_thumb: return "jpeg_thumb";
    case PreviewKind::ppm_thumb: return "ppm_thumb";
    case PreviewKind::layer_thumb: return "layer_thumb";
    case PreviewKind::rollei_thumb: return "rollei_thumb";
    case PreviewKind::foveon_thumb: return "foveon_thumb";
  }
  return "unknown";
}

// ---------------------------------------------------------------------------
// ProbeFile

std::uint64_t input_budget_for(std::int64_t size) {
  const std::uint64_t bytes = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
  if (bytes > (most - probe_limits::kInputBudgetSlack) / probe_limits::kInputBudgetFactor) return most;
  return bytes * probe_limits::kInputBudgetFactor + probe_limits::kInputBudgetSlack;
}

ProbeFile::ProbeFile(std::unique_ptr<NativeFile> file)
    : file_(std::move(file)), size_(file_->size()), input_budget_(input_budget_for(size_)) {}

ProbeFile::ProbeFile(std::vector<std::uint8_t> bytes)
    : memory_(std::move(bytes)),
      size_(static_cast<std::int64_t>(memory_.size())),
      input_budget_(input_budget_for(size_)) {}

ProbeFile::~ProbeFile() = default;

std::size_t ProbeFile::read_source(std::int64_t offset, void* dst, std::size_t n) {
  if (offset < 0 || offset >= size_ || n == 0) return 0;
  std::int64_t avail = size_ - offset;
  if (static_cast<std::uint64_t>(avail) < n) n = static_cast<std::size_t>(avail);
  if (source_bytes_ >= input_budget_) {
    budget_spent_ = true;
    return 0;
  }
  if (input_budget_ - source_bytes_ < n) {
    budget_spent_ = true;
    n = static_cast<std::size_t>(input_budget_ - source_bytes_);
  }
  std::size_t got = n;
  if (file_) {
    got = file_->read_at(offset, dst, n);
  } else {
    std::memcpy(dst, memory_.data() + offset, n);
  }
  ++source_reads_;
  source_bytes_ += got;
  return got;
}

void ProbeFile::use_window(std::size_t index) {
  Window& w = windows_[index];
  w.last_use = ++uses_;
  current_ = index;
  win_data_ = w.data.get();
  win_start_ = w.start;
  win_len_ = w.len;
}

bool ProbeFile::use_window_holding(std::int64_t pos) {
  for (std::size_t i = 0; i < probe_limits::kReadWindows; ++i) {
    const Window& w = windows_[i];
    if (w.last_use != 0 && pos >= w.start && pos < w.start + static_cast<std::int64_t>(w.len)) {
      use_window(i);
      return true;
    }
  }
  return false;
}

std::size_t ProbeFile::read_slow(void* dst, std::size_t n) {
  if (n == 0 || pos_ >= size_) return 0;
  auto* out = static_cast<std::uint8_t*>(dst);
  std::size_t done = 0;
  while (done < n && pos_ < size_) {
    std::int64_t win_end = win_start_ + static_cast<std::int64_t>(win_len_);
    if (pos_ >= win_start_ && pos_ < win_end) {
      std::size_t avail = static_cast<std::size_t>(win_end - pos_);
      std::size_t take = avail < n - done ? avail : n - done;
      std::memcpy(out + done, win_data_ + (pos_ - win_start_), take);
      done += take;
      pos_ += static_cast<std::int64_t>(take);
      continue;
    }
    if (use_window_holding(pos_)) continue;
    std::size_t want = n - done;
    if (want >= probe_limits::kReadWindow) {
      // Large block: straight from the source, no copy through a window.
      std::size_t got = read_source(pos_, out + done, want);
      done += got;
      pos_ += static_cast<std::int64_t>(got);
      break;
    }
    // Load the window used longest ago (one never loaded first).
    std::size_t victim = 0;
    for (std::size_t i = 1; i < probe_limits::kReadWindows; ++i) {
      if (windows_[i].last_use < windows_[victim].last_use) victim = i;
    }
    Window& w = windows_[victim];
    const std::size_t fill = next_fill(want);
    if (!w.data) w.data.reset(new std::uint8_t[probe_limits::kReadWindow]);
    w.start = pos_;
    w.len = read_source(pos_, w.data.get(), fill);
    loaded_ = true;
    use_window(victim);
    if (w.len == 0) {
      w.last_use = 0;  // nothing in it: never found by use_window_holding
      break;
    }
  }
  return done;
}

std::size_t ProbeFile::next_fill(std::size_t want) const {
  const std::int64_t win_end = win_start_ + static_cast<std::int64_t>(win_len_);
  // A jump ahead of the window used last (a chunk header after a skipped
  // payload) loads a header; the head of the file, a read that carries on
  // from that window and a read back into what came before load a whole
  // window.
  const bool jump_ahead = loaded_ && pos_ - win_end >= static_cast<std::int64_t>(probe_limits::kHeaderRead);
  const std::size_t fill = jump_ahead ? probe_limits::kHeaderRead : probe_limits::kReadWindow;
  return std::max(fill, want);
}

// ---------------------------------------------------------------------------
// State

void reset_probe_state() {
  ProbeFile* file = g_probe.probe_file;
  const char* name = g_probe.probe_file_name;
  std::uint16_t order = g_probe.byte_order;
  std::memset(g_probe.camera_make, 0, sizeof g_probe.camera_make);
  std::memset(g_probe.camera_model, 0, sizeof g_probe.camera_model);
  std::memset(g_probe.recorded_make, 0, sizeof g_probe.recorded_make);
  std::memset(g_probe.recorded_model, 0, sizeof g_probe.recorded_model);
  std::memset(g_probe.model_detail, 0, sizeof g_probe.model_detail);
  std::memset(g_probe.image_description, 0, sizeof g_probe.image_description);
  std::memset(g_probe.artist_name, 0, sizeof g_probe.artist_name);
  g_probe.raw_format = false;
  g_probe.capture_time = 0;
  g_probe.capture_time_rank = kCaptureTimeOther;
  std::memset(g_probe.capture_offset, 0, sizeof g_probe.capture_offset);
  std::memset(g_probe.time_offsets, 0, sizeof g_probe.time_offsets);
  g_probe.raw_ifd0 = {};
  g_probe.raw_exif = {};
  g_probe.raw_gps = {};
  g_probe.raw_interop = {};
  g_probe.tiff_dir_depth = 0;
  g_probe.reading_ifd0 = false;
  g_probe.reading_companion = false;
  g_probe.iso_rating = 0;
  g_probe.exposure_seconds = 0;
  g_probe.f_number = 0;
  g_probe.exposure_recorded = false;
  g_probe.f_number_recorded = false;
  g_probe.focal_length_mm = 0;
  std::memset(g_probe.gps_words, 0, sizeof g_probe.gps_words);
  g_probe.preview_offset = 0;
  g_probe.preview_length = 0;
  g_probe.preview_width = 0;
  g_probe.preview_height = 0;
  g_probe.preview_format_bits = 0;
  g_probe.preview_kind = PreviewKind::jpeg_thumb;
  g_probe.preview_decoder = DecoderChoice::none;
  g_probe.orientation_code = -1;
  g_probe.tiff_orientation = -1;
  std::memset(g_probe.tiff_dirs, 0, sizeof g_probe.tiff_dirs);
  g_probe.tiff_dir_count = 0;
  g_probe.sensor_width = 0;
  g_probe.sensor_height = 0;
  g_probe.image_width = 0;
  g_probe.image_height = 0;
  g_probe.raw_sample_bits = 0;
  g_probe.raw_compression = 0;
  g_probe.raw_sample_count = 0;
  g_probe.raw_offset = 0;
  g_probe.raw_supported = 1;
  g_probe.dng_version = 0;
  g_probe.sensor_decoder = DecoderChoice::none;
  g_probe.icc_profile_offset = 0;
  g_probe.icc_profile_length = 0;
  g_probe.x3f_flag = 0;
  g_probe.data_error_count = 0;
  g_probe.imacon_image_length = 0;
  g_probe.sr2_offset = 0;
  g_probe.sr2_length = 0;
  g_probe.sr2_key = 0;
  g_probe.leaf_rotation = -1;
  g_probe.embedded_image_count = 0;
  g_probe.nesting_depth = 0;
  g_probe.work_left = probe_limits::kWorkBudget;
  g_probe.probe_file = file;
  g_probe.probe_file_name = name;
  g_probe.byte_order = order;
}

void note_embedded_image(const char* where, std::int64_t offset, std::uint32_t length, unsigned width,
                         unsigned height) {
  if (offset <= 0) return;
  EmbeddedImage* image = nullptr;
  for (std::uint32_t i = 0; i < g_probe.embedded_image_count; ++i) {
    if (g_probe.embedded_images[i].offset == offset) image = &g_probe.embedded_images[i];
  }
  if (!image) {
    if (g_probe.embedded_image_count >= probe_limits::kMaxEmbeddedImages) return;
    image = &g_probe.embedded_images[g_probe.embedded_image_count++];
    *image = EmbeddedImage{where, offset, 0, 0, 0};
  }
  if (length) image->length = length;
  if (width && height) {
    image->width = width;
    image->height = height;
  }
}

void record_raw_directory(RawDirectoryRef& ref, std::uint32_t base) {
  ref.offset = probe_tell();
  ref.base = base;
  ref.byte_order = g_probe.byte_order;
}

bool may_record_raw_directory(const RawDirectoryRef& ref) {
  return ref.offset == 0 && !g_probe.reading_companion && (g_probe.reading_ifd0 || g_probe.tiff_dir_depth == 0);
}

void terminate_probe_texts() {
  g_probe.camera_make[sizeof g_probe.camera_make - 1] = 0;
  g_probe.camera_model[sizeof g_probe.camera_model - 1] = 0;
  g_probe.recorded_make[sizeof g_probe.recorded_make - 1] = 0;
  g_probe.recorded_model[sizeof g_probe.recorded_model - 1] = 0;
  g_probe.model_detail[sizeof g_probe.model_detail - 1] = 0;
  g_probe.artist_name[sizeof g_probe.artist_name - 1] = 0;
  g_probe.image_description[sizeof g_probe.image_description - 1] = 0;
}

// ---------------------------------------------------------------------------
// Primitives

std::uint16_t decode_u16(const std::uint8_t* p) {
  if (g_probe.byte_order == 0x4949) return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t decode_u32(const std::uint8_t* p) {
  if (g_probe.byte_order == 0x4949) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

std::uint16_t read_u16() {
  std::uint8_t b[2] = {0xFF, 0xFF};
  probe_read(b, 2);
  return decode_u16(b);
}

std::uint32_t read_u32() {
  std::uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  probe_read(b, 4);
  return decode_u32(b);
}

std::uint32_t read_int_of_type(unsigned type) { return type == 3 ? read_u16() : read_u32(); }

static bool host_is_little_endian() { return std::endian::native == std::endian::little; }

double read_real_of_type(unsigned type) {
  switch (type) {
    case 3: return static_cast<std::uint16_t>(read_u16());
    case 4: return static_cast<std::uint32_t>(read_u32());
    case 8: return static_cast<std::int16_t>(read_u16());
    case 9: return static_cast<std::int32_t>(read_u32());
    case 5: {
      double num = read_u32();
      double den = read_u32();
      return num / den;
    }
    case 10: {
      double num = static_cast<std::int32_t>(read_u32());
      double den = static_cast<std::int32_t>(read_u32());
      return num / den;
    }
    case 11: {
      std::uint32_t bits = read_u32();
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case 12: {
      std::uint8_t b[8];
      bool same = (g_probe.byte_order == 0x4949) == host_is_little_endian();
      for (int i = 0; i < 8; ++i) {
        int c = probe_getc();
        b[same ? i : 7 - i] = static_cast<std::uint8_t>(c);
      }
      double d;
      std::memcpy(&d, b, sizeof d);
      return d;
    }
    default: return probe_getc();
  }
}

void read_u16_array(std::uint16_t* dst, std::size_t n) {
  std::size_t got = probe_read(dst, n * 2);
  if (got < n * 2) report_data_error();
  bool file_little = g_probe.byte_order == 0x4949;
  if (file_little != host_is_little_endian()) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = static_cast<std::uint16_t>(dst[i] << 8 | dst[i] >> 8);
  }
}

unsigned dir_type_size(unsigned type) {
  if (type >= 14) type = 0;
  return static_cast<unsigned>(DIR_TYPE_SIZES[type] - '0');
}

TagHeader read_tag_header(std::uint32_t base) {
  TagHeader h;
  h.tag = read_u16();
  h.type = read_u16();
  h.count = read_u32();
  h.next = probe_tell() + 4;
  std::uint64_t bytes = static_cast<std::uint64_t>(dir_type_size(h.type)) * h.count;
  if (bytes > 4) probe_seek(static_cast<std::uint32_t>(read_u32() + base));
  return h;
}

namespace {

// Floor division for the calendar arithmetic below (b > 0).
std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1970-01-01 to the first of a month (proleptic Gregorian
// calendar, month 1-12).
std::int64_t days_to_month_start(std::int64_t year, int month) {
  year -= month <= 2;
  const std::int64_t era = floor_div(year, 400);
  const std::int64_t yoe = year - era * 400;
  const std::int64_t mp = month > 2 ? month - 3 : month + 9;
  const std::int64_t doy = (153 * mp + 2) / 5;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

std::int64_t wall_clock_to_seconds(int year, int month, int day, int hour, int minute, int second) {
  // Fields beyond their range carry into the next larger one, as a calendar
  // normalises them (month 13 is January of the next year, day 0 the last
  // day of the month before). No zone takes part: the result's breakdown as
  // UTC gives back the fields as written.
  const std::int64_t months = static_cast<std::int64_t>(year) * 12 + (static_cast<std::int64_t>(month) - 1);
  const std::int64_t y = floor_div(months, 12);
  const int m = static_cast<int>(months - y * 12) + 1;
  const std::int64_t days = days_to_month_start(y, m) + (static_cast<std::int64_t>(day) - 1);
  return days * 86400 + static_cast<std::int64_t>(hour) * 3600 + static_cast<std::int64_t>(minute) * 60 + second;
}

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One "%d" conversion: optional white space, an optional sign, digits.
// Values beyond the int range are held at its ends.
bool scan_int(const char*& p, int& value) {
  while (is_space(*p)) ++p;
  const char* q = p;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (*q < '0' || *q > '9') return false;
  long long v = 0;
  for (; *q >= '0' && *q <= '9'; ++q) {
    if (v < 10000000000LL) v = v * 10 + (*q - '0');
  }
  if (negative) v = -v;
  value = v > 2147483647LL ? 2147483647 : v < -2147483648LL ? -2147483647 - 1 : static_cast<int>(v);
  p = q;
  return true;
}

// The date reader's scan of "%d:%d:%d %d:%d:%d": the count of numbers read
// before the first mismatch, as the formatted scan counts them. The space
// of the pattern matches any run of white space, also an empty one.
int scan_exif_time(const char* p, int out[6]) {
  const char separators[] = {':', ':', ' ', ':', ':'};
  for (int i = 0; i < 6; ++i) {
    if (!scan_int(p, out[i])) return i;
    if (i == 5) return 6;
    if (separators[i] == ' ') {
      while (is_space(*p)) ++p;
    } else if (*p++ != separators[i]) {
      return i + 1;
    }
  }
  return 6;
}

}  // namespace

void read_exif_time(bool reversed) {
  char text[20] = {};
  if (reversed) {
    for (int i = 19; i--;) text[i] = static_cast<char>(probe_getc());
  } else {
    probe_read(text, 19);
  }
  text[19] = 0;
  int v[6];
  if (scan_exif_time(text, v) < 6) return;
  std::int64_t t = wall_clock_to_seconds(v[0], v[1], v[2], v[3], v[4], v[5]);
  if (t > 0) g_probe.capture_time = t;
}

void read_ranked_exif_time(CaptureTimeRank rank) {
  const std::int64_t kept = g_probe.capture_time;
  g_probe.capture_time = 0;
  read_exif_time(false);
  if (g_probe.capture_time == 0 || rank < g_probe.capture_time_rank) {
    g_probe.capture_time = kept;
    return;
  }
  g_probe.capture_time_rank = rank;
  update_capture_offset();
}

void update_capture_offset() {
  const unsigned rank = g_probe.capture_time_rank;
  if (rank == kCaptureTimeOther)
    std::memset(g_probe.capture_offset, 0, sizeof g_probe.capture_offset);
  else
    std::memcpy(g_probe.capture_offset, g_probe.time_offsets[rank - 1], sizeof g_probe.capture_offset);
}

void read_text_line(char* buffer, std::size_t size) {
  if (size < 2) {
    if (size == 1) buffer[0] = 0;
    return;
  }
  std::size_t i = 0;
  while (i + 1 < size) {
    int c = probe_getc();
    if (c < 0) break;
    buffer[i++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (i > 0) buffer[i] = 0;
}

void read_text_at(std::int64_t offset, char* buffer, std::size_t size) {
  if (size == 0) return;
  probe_seek(offset);
  std::size_t i = 0;
  while (i + 1 < size) {
    char c = static_cast<char>(read_u16() & 0xFF);
    if (c == 0) break;
    buffer[i++] = c;
  }
  buffer[i] = 0;
}

bool begins_as_jpeg_at(std::int64_t offset) {
  std::uint8_t head[3] = {};
  probe_seek(offset);
  return offset > 0 && probe_read(head, 3) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

bool is_whole_jpeg_at(std::int64_t offset, std::uint32_t length) {
  return length >= probe_limits::kMinPreviewLength && offset + static_cast<std::int64_t>(length) <= probe_file_size() && begins_as_jpeg_at(offset);
}

std::uint32_t find_exif_segment(std::int64_t offset, std::uint32_t length) {
  std::uint32_t found = 0;
  walk_leading_segments(offset, length, [&](const JpegSegment& segment) {
    if (segment.is_exif()) found = segment.at;
    return found == 0;
  });
  return found;
}

std::ptrdiff_t find_bytes(const void* data, std::size_t length, const void* pattern,
                          std::size_t pattern_length) {
  if (pattern_length == 0 || pattern_length > length) return -1;
  const auto* d = static_cast<const std::uint8_t*>(data);
  for (std::size_t p = 0; p + pattern_length <= length; ++p) {
    if (std::memcmp(d + p, pattern, pattern_length) == 0) return static_cast<std::ptrdiff_t>(p);
  }
  return -1;
}

int scan_stride_bytes() {
  for (int k = 0; k < 100; ++k) {
    probe_seek(3284 + 3340 * k);
    if (probe_getc() > 15) return 1;
  }
  return 0;
}

namespace {
thread_local constinit ProbeDiagnosticTarget t_diagnostics;
// Longest diagnostic kept whole; longer ones are cut (a path can be long).
constexpr std::size_t kMaxDiagnostic = 4096;
}  // namespace

ProbeDiagnosticTarget set_probe_diagnostics(const ProbeDiagnosticTarget& target) {
  ProbeDiagnosticTarget previous = t_diagnostics;
  t_diagnostics = target;
  return previous;
}

void probe_diagnostic(bool with_file, const char* format, ...) {
  const ProbeDiagnosticTarget& target = t_diagnostics;
  if (!target.standard_error && !target.handler) return;
  char message[kMaxDiagnostic];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (target.handler) {
    target.handler(target.context, with_file ? g_probe.probe_file_name : "", message);
    return;
  }
  if (with_file) {
    std::fprintf(stderr, "%s: %s\n", g_probe.probe_file_name, message);
  } else {
    std::fprintf(stderr, "%s\n", message);
  }
}

void report_data_error() {
  if (g_probe.data_error_count == 0) {
    if (g_probe.probe_file->at_end()) {
      probe_diagnostic(true, "Unexpected end of file");
    } else {
      probe_diagnostic(true, "Corrupt data near 0x%llx", static_cast<unsigned long long>(probe_tell()));
    }
  }
  ++g_probe.data_error_count;
}

void require_memory(const void* pointer, const char* routine) {
  if (pointer) return;
  probe_diagnostic(true, "Out of memory in %s", routine);
  throw ProbeAbort();
}

namespace {
// Segment payloads are read into one buffer per thread rather than onto the
// stack: the marker reader can be reached from nested directory readers.
thread_local std::uint8_t t_segment[probe_limits::kJpegSegmentBuffer];
}  // namespace

int ljpeg_start(LosslessJpegHeader& header, int info_only) {
  header = LosslessJpegHeader{};
  header.restart_interval = 2147483647;
  std::uint8_t head[2];
  if (probe_read(head, 2) != 2 || head[1] != 0xD8) return 0;
  std::uint8_t* data = t_segment;
  for (;;) {
    // Each marker costs work; a stream of empty segments cannot run long.
    if (!take_work()) return 0;
    std::uint8_t m[4];
    if (probe_read(m, 4) != 4) return 0;
    unsigned marker = static_cast<unsigned>(m[0] << 8 | m[1]);
    int length = (m[2] << 8 | m[3]) - 2;
    if (marker <= 0xFF00) return 0;
    // A length field below 2 names no payload: not a JPEG we can read.
    if (length < 0) return 0;
    // Only frame, restart and scan headers are looked at; other segments
    // (tables, application data such as a 64 KiB Exif block) are skipped.
    if (marker != 0xFFC0 && marker != 0xFFC3 && marker != 0xFFDD && marker != 0xFFDA) {
      g_probe.probe_file->skip(length);
      continue;
    }
    std::size_t got = probe_read(data, static_cast<std::size_t>(length));
    // Bytes the segment or the file lacks read as zero, never as the stale
    // contents of an earlier segment (the scan header indexes up to 513).
    std::size_t clear_to = static_cast<std::size_t>(length) > 520 ? static_cast<std::size_t>(length) : 520;
    if (got < clear_to) std::memset(data + got, 0, clear_to - got);
    switch (marker) {
      case 0xFFC3:
        header.sraw = ((data[7] >> 4) * (data[7] & 15) - 1) & 3;
        [[fallthrough]];
      case 0xFFC0:
        header.bits = data[0];
        header.height = data[1] << 8 | data[2];
        header.width = data[3] << 8 | data[4];
        header.colours = data[5] + header.sraw;
        if (length == 9 && g_probe.dng_version == 0) probe_getc();
        break;
      case 0xFFDD:
        header.restart_interval = data[0] << 8 | data[1];
        break;
      case 0xFFDA: {
        unsigned n = data[0];
        // Indices 1 + 2n and 3 + 2n stay inside the 64 KiB buffer (n < 256).
        header.predictor = data[1 + 2 * n];
        header.bits -= data[3 + 2 * n] & 15;
        // Full mode (row buffers, decoder tables) serves sensor decoding only.
        (void)info_only;
        return 1;
      }
      default:
        break;
    }
  }
}

int rotation_degrees_to_code(std::int64_t degrees) {
  std::int64_t r = degrees % 360;
  if (r < 0) r += 360;
  switch (r) {
    case 0: return 0;
    case 90: return 6;
    case 180: return 3;
    case 270: return 5;
    default: return -1;
  }
}

int usable_orientation_code(std::int32_t code) {
  if (code >= 0 && code <= 7) return code;
  int mapped = rotation_degrees_to_code(code);
  return mapped < 0 ? 0 : mapped;
}

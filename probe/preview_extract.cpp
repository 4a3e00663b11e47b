// The probe's entry points: does a file hold an extractable JPEG preview,
// the preview itself as one complete JPEG buffer, and a report of the probe.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/native_file.h"
#include "probe/exif_block.h"
#include "probe/exif_full.h"
#include "probe/probe.h"
#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

// Opens the file as the thread's probe file for the scope of one call and
// closes it on every path.
class ProbeSession {
 public:
  explicit ProbeSession(const NativePath& path) : name_(native_to_utf8(path)) {
    g_probe.probe_file_name = name_.c_str();
    std::unique_ptr<NativeFile> native = NativeFile::open_for_reading(path, &open_error_);
    if (!native) return;
    file_ = std::make_unique<ProbeFile>(std::move(native));
    g_probe.probe_file = file_.get();
  }
  ~ProbeSession() {
    if (file_) g_probe.probe_file = nullptr;
    g_probe.probe_file_name = "";
  }
  ProbeSession(const ProbeSession&) = delete;
  ProbeSession& operator=(const ProbeSession&) = delete;

  bool opened() const { return file_ != nullptr; }
  const std::error_code& open_error() const { return open_error_; }
  const ProbeFile& file() const { return *file_; }

  // Runs the top-level probe; false when it ended through the
  // out-of-memory exit.
  bool probe() {
    try {
      run_probe();
      if (file_->input_budget_spent()) {
        probe_diagnostic(true, "Read limit reached (%llu bytes); the structures read after it count as missing",
                         static_cast<unsigned long long>(file_->input_budget()));
      }
      return true;
    } catch (const ProbeAbort&) {
      return false;
    } catch (const std::bad_alloc&) {
      probe_diagnostic(true, "Out of memory in %s", "run_probe()");
      return false;
    }
  }

 private:
  std::string name_;
  std::error_code open_error_;
  std::unique_ptr<ProbeFile> file_;
};

bool has_jpeg_preview() {
  return g_probe.preview_offset != 0 && g_probe.preview_length != 0 &&
         g_probe.preview_kind == PreviewKind::jpeg_thumb;
}

// The start-of-image marker of a preview is forced when it is handed out;
// the byte after it must begin a JPEG marker, or the bytes are not a JPEG at
// all (a placeholder, or data of another kind behind a stale offset).
bool marker_follows_start(std::uint8_t third_byte) { return third_byte == 0xFF; }

using probe_limits::kMinPreviewLength;

std::int64_t preview_start() { return g_probe.preview_offset; }

}  // namespace

// The one rule for "this file holds a usable JPEG preview", asked by both
// entry points and by the report: a JPEG preview was located, the file holds
// it whole (it neither runs past the end nor wraps), it is long enough to
// carry the start marker and the Exif test bytes, and a JPEG marker follows
// its start. Anything else is refused, so no caller is ever told yes for a
// preview that extraction would then refuse.
bool has_usable_jpeg_preview() {
  if (!has_jpeg_preview()) return false;
  const std::uint32_t length = g_probe.preview_length;
  if (length < kMinPreviewLength || preview_start() + static_cast<std::int64_t>(length) > probe_file_size())
    return false;
  probe_seek(preview_start() + 2);
  int c = probe_getc();
  return c >= 0 && marker_follows_start(static_cast<std::uint8_t>(c));
}

namespace {

// The kind of the file just probed to its end.
ProbeFileKind probed_file_kind() {
  if (has_usable_jpeg_preview()) return ProbeFileKind::raw_with_preview;
  return g_probe.raw_format ? ProbeFileKind::raw_without_preview : ProbeFileKind::not_raw;
}

}  // namespace

ProbeFileKind probe_file_kind(const NativePath& path) {
  ProbeSession session(path);
  if (!session.opened() || !session.probe()) return ProbeFileKind::unreadable;
  return probed_file_kind();
}

int probe_has_jpeg_preview(const NativePath& path) {
  return probe_file_kind(path) == ProbeFileKind::raw_with_preview ? 1 : 0;
}

namespace {

// The preview of the file just probed, as exif_mode says.
ExtractOutcome extract_probed_preview(const char* software_text, ExifMode exif_mode, ExtractedPreview& out) {
  if (!has_usable_jpeg_preview()) return ExtractOutcome::no_preview;
  const std::uint32_t preview_length = g_probe.preview_length;
  const std::uint32_t rotated = (usable_orientation_code(g_probe.orientation_code) & 4) ? 1 : 0;

  // The head of the preview decides the layout of the buffer, so the rest
  // is read straight to its final place: no second pass over megabytes.
  std::uint8_t head[kMinPreviewLength];
  probe_seek(preview_start());
  if (probe_read(head, sizeof head) != sizeof head) return ExtractOutcome::read_failed;
  head[0] = 0xFF;
  head[1] = 0xD8;
  // The preview's own Exif may follow other segments (a JFIF APP0 first):
  // it counts wherever it lies among the segments before the scan, so no
  // second, poorer Exif segment goes in before it.
  const bool has_exif = find_exif_segment(preview_start(), preview_length) != 0;
  probe_seek(preview_start() + static_cast<std::int64_t>(sizeof head));
  const std::size_t rest = preview_length - sizeof head;

  // The full Exif replaces the preview's own unless the RAW has no Exif
  // directory of its own to build it from (none at all, or only the one
  // inside the preview, as in a RAF): then the camera's Exif in the preview
  // is kept whole. Should the full segment not come together, the basic
  // rules apply.
  const std::int64_t raw_exif = g_probe.raw_exif.offset;
  const bool exif_of_raw =
      raw_exif > 0 && !(raw_exif >= preview_start() && raw_exif < preview_start() + std::int64_t{preview_length});
  if (exif_mode == ExifMode::full && (exif_of_raw || !has_exif)) {
    std::uint32_t length = 0;
    unsigned char* data = assemble_full_exif_preview(preview_start(), preview_length, software_text, &length);
    probe_seek(preview_start() + static_cast<std::int64_t>(sizeof head));
    if (data) {
      out = {data, length, rotated, true};
      return ExtractOutcome::extracted;
    }
  }
  if (has_exif || exif_mode == ExifMode::none) {
    unsigned char* data = static_cast<unsigned char*>(std::malloc(preview_length));
    if (!data) return ExtractOutcome::out_of_memory;
    std::memcpy(data, head, sizeof head);
    if (probe_read(data + sizeof head, rest) != rest) {
      std::free(data);
      return ExtractOutcome::read_failed;
    }
    out = {data, preview_length, rotated, false};
    return ExtractOutcome::extracted;
  }
  // Start marker, the inserted APP1 segment with the Exif block, then the
  // preview from its byte 2 on.
  unsigned char* data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(preview_length) + 1386));
  if (!data) return ExtractOutcome::out_of_memory;
  std::memcpy(data + 1388, head + 2, sizeof head - 2);
  if (probe_read(data + 1388 + (sizeof head - 2), rest) != rest) {
    std::free(data);
    return ExtractOutcome::read_failed;
  }
  data[0] = 0xFF;
  data[1] = 0xD8;
  std::memcpy(data + 2, APP1_HEAD, sizeof APP1_HEAD);
  build_exif_header_block(data + 12);
  if (software_text) {
    std::uint8_t* field = data + 12 + exif_block::kSoftware;
    std::size_t n = std::strlen(software_text);
    if (n > 31) n = 31;
    std::memset(field, 0, 32);
    std::memcpy(field, software_text, n);
  }
  out = {data, preview_length + 1386, rotated, true};
  return ExtractOutcome::extracted;
}

}  // namespace

int probe_extract_jpeg_preview(const NativePath& path, const char* software_text,
                               unsigned char** buffer, std::uint32_t* length,
                               std::uint32_t* rotated, ExifMode exif_mode) {
  ExtractedPreview preview;
  switch (probe_extract_preview(path, software_text, exif_mode, preview)) {
    case ExtractOutcome::extracted:
      *buffer = preview.buffer;
      *length = preview.length;
      *rotated = preview.rotated;
      return 1;
    case ExtractOutcome::cannot_open:
    case ExtractOutcome::aborted:
      return 0;
    case ExtractOutcome::no_preview:
    case ExtractOutcome::out_of_memory:
    case ExtractOutcome::read_failed:
      break;
  }
  *buffer = nullptr;
  return 0;
}

namespace {

// Every embedded image the probe noted, with what the file says of it.
std::vector<EmbeddedImageReport> embedded_image_reports() {
  std::vector<EmbeddedImageReport> images;
  const std::int64_t chosen = g_probe.preview_offset;
  for (std::uint32_t i = 0; i < g_probe.embedded_image_count; ++i) {
    const EmbeddedImage& e = g_probe.embedded_images[i];
    EmbeddedImageReport r;
    r.where = e.where;
    r.offset = e.offset;
    r.length = e.length;
    r.width = e.width;
    r.height = e.height;
    r.whole = e.offset + static_cast<std::int64_t>(e.length) <= probe_file_size();
    r.jpeg = begins_as_jpeg_at(e.offset);
    if (r.jpeg && !r.width) {
      probe_seek(e.offset);
      LosslessJpegHeader jh;
      if (ljpeg_start(jh, 1)) {
        r.width = static_cast<unsigned>(jh.width);
        r.height = static_cast<unsigned>(jh.height);
      }
    }
    r.chosen = chosen != 0 && e.offset == chosen;
    images.push_back(std::move(r));
  }
  return images;
}

}  // namespace

namespace {

// The report of the file just probed (aborted: the probe ran out of memory).
void fill_report(ProbeReport& report, const ProbeSession& session, bool aborted) {
  report.opened = true;
  report.aborted = aborted;
  const ProbeState& s = g_probe;
  report.make.assign(s.camera_make, text_length(s.camera_make));
  report.model.assign(s.camera_model, text_length(s.camera_model));
  report.recorded_make = written_make();
  report.recorded_model = written_model();
  report.model_detail.assign(s.model_detail, text_length(s.model_detail));
  report.description.assign(s.image_description, text_length(s.image_description));
  report.artist.assign(s.artist_name, text_length(s.artist_name));
  report.capture_time = s.capture_time;
  report.capture_offset.assign(s.capture_offset, text_length(s.capture_offset));
  report.iso = s.iso_rating;
  report.exposure = s.exposure_seconds;
  report.f_number = s.f_number;
  report.focal_length = s.focal_length_mm;
  report.has_gps = s.gps_words[1] != 0;
  if (report.has_gps) {
    auto rational3 = [&](int w) {
      double v = 0, scale = 1;
      for (int i = 0; i < 3; ++i, scale *= 60) {
        if (s.gps_words[w + 2 * i + 1]) v += s.gps_words[w + 2 * i] / (double)s.gps_words[w + 2 * i + 1] / scale;
      }
      return v;
    };
    report.gps_latitude = rational3(0);
    report.gps_longitude = rational3(6);
    report.gps_altitude = s.gps_words[19] ? s.gps_words[18] / (double)s.gps_words[19] : 0;
    report.gps_latitude_ref = static_cast<char>(s.gps_words[29] & 0xFF);
    report.gps_longitude_ref = static_cast<char>(s.gps_words[30] & 0xFF);
    report.gps_altitude_ref = static_cast<int>(s.gps_words[31] & 0xFF);
  }
  report.orientation_code = s.orientation_code;
  report.exif_orientation = exif_orientation();
  report.preview_offset = s.preview_offset;
  report.preview_length = s.preview_length;
  report.preview_width = s.preview_width;
  report.preview_height = s.preview_height;
  report.preview_kind = preview_kind_name(s.preview_kind);
  report.images = embedded_image_reports();
  report.kind = report.aborted ? ProbeFileKind::unreadable : probed_file_kind();
  report.has_jpeg_preview = report.kind == ProbeFileKind::raw_with_preview;
  report.dng_version = s.dng_version;
  report.raw_supported = s.raw_supported;
  report.data_errors = s.data_error_count;
  report.input_reads = session.file().source_reads();
  report.input_bytes = session.file().source_bytes();
}

}  // namespace

std::string capture_time_text(const ProbeReport& report) {
  if (report.capture_time == 0) return {};
  const UtcTime t = utc_breakdown(report.capture_time);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text + report.capture_offset;
}

bool probe_report(const NativePath& path, ProbeReport& report) {
  report = ProbeReport{};
  ProbeSession session(path);
  if (!session.opened()) {
    report.open_error = session.open_error();
    return false;
  }
  const bool probed = session.probe();
  fill_report(report, session, !probed);
  return true;
}

ExtractOutcome probe_extract_preview(const NativePath& path, const char* software_text, ExifMode exif_mode,
                                     ExtractedPreview& preview, ProbeReport* report) {
  preview = ExtractedPreview{};
  if (report) *report = ProbeReport{};
  ProbeSession session(path);
  if (!session.opened()) {
    if (report) report->open_error = session.open_error();
    return ExtractOutcome::cannot_open;
  }
  const bool probed = session.probe();
  const ExtractOutcome outcome = probed ? extract_probed_preview(software_text, exif_mode, preview)
                                        : ExtractOutcome::aborted;
  if (report) fill_report(*report, session, !probed);
  return outcome;
}

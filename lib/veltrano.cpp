// The C interface of include/veltrano.h: a thin face over the probe's
// extraction and report, and the platform's whole-file writes. Every entry
// point is an exception barrier, and the probe's diagnostics go to the
// caller's handler or nowhere, never to a stream.
#include "veltrano.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <system_error>

#include "platform/atomic_write.h"
#include "platform/file_times.h"
#include "platform/native_path.h"
#include "probe/probe.h"
#include "veltrano_version.h"

namespace {

// The handler set by veltrano_set_diagnostic_handler, copied by each call as
// it starts.
struct DiagnosticHandler {
  veltrano_diagnostic_fn fn = nullptr;
  void* context = nullptr;
};
std::mutex g_handler_mutex;
DiagnosticHandler g_handler;

void forward_diagnostic(void* context, const char* file, const char* message) {
  const auto* handler = static_cast<const DiagnosticHandler*>(context);
  handler->fn(handler->context, file, message);
}

// For the length of one call: the calling thread's probe diagnostics go to
// the caller's handler, or nowhere.
class DiagnosticScope {
 public:
  DiagnosticScope() {
    {
      std::lock_guard<std::mutex> lock(g_handler_mutex);
      handler_ = g_handler;
    }
    ProbeDiagnosticTarget target;
    target.standard_error = false;
    if (handler_.fn) {
      target.handler = forward_diagnostic;
      target.context = &handler_;
    }
    previous_ = set_probe_diagnostics(target);
  }
  ~DiagnosticScope() { set_probe_diagnostics(previous_); }
  DiagnosticScope(const DiagnosticScope&) = delete;
  DiagnosticScope& operator=(const DiagnosticScope&) = delete;

 private:
  DiagnosticHandler handler_;
  ProbeDiagnosticTarget previous_;
};

// Runs the body of an entry point; nothing thrown leaves the library.
template <typename Body>
int guarded(Body body) {
  try {
    DiagnosticScope diagnostics;
    return body();
  } catch (const std::bad_alloc&) {
    return VELTRANO_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    return VELTRANO_ERROR_INTERNAL;
  }
}

// The errno value of a system error (EIO for one the platform does not map).
int errno_of(const std::error_code& error) {
#ifdef _WIN32
  if (error.category() == std::system_category()) {
    switch (error.value()) {
      case 2:  // ERROR_FILE_NOT_FOUND
      case 3:  // ERROR_PATH_NOT_FOUND
        return ENOENT;
      case 5:  // ERROR_ACCESS_DENIED
        return EACCES;
      case 80:   // ERROR_FILE_EXISTS
      case 183:  // ERROR_ALREADY_EXISTS
        return EEXIST;
    }
  }
#endif
  const std::error_condition condition = error.default_error_condition();
  return condition.category() == std::generic_category() ? condition.value() : EIO;
}

// The status of a file that could not be opened, with its reason.
int open_failure(const NativePath& path, const std::error_code& why, veltrano_info* info) {
  int error = why ? errno_of(why) : 0;
  if (!why) {
    // Opened nothing readable: a folder, a device, a pipe.
    std::error_code ec;
    error = std::filesystem::is_directory(std::filesystem::path(path), ec) ? EISDIR : EINVAL;
  }
  if (info) info->system_error = error;
  return error == ENOENT || error == ENOTDIR ? VELTRANO_ERROR_NOT_FOUND : VELTRANO_ERROR_NOT_READABLE;
}

template <std::size_t N>
void copy_text(char (&field)[N], const std::string& text) {
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

void fill_info(const ProbeReport& report, veltrano_info& info) {
  copy_text(info.make, report.recorded_make);
  copy_text(info.model, report.recorded_model);
  copy_text(info.capture_time, capture_time_text(report));
  copy_text(info.capture_offset, report.capture_offset);
  info.capture_seconds = report.capture_time;
  info.exposure_seconds = report.exposure;
  info.f_number = report.f_number;
  info.iso = report.iso;
  info.focal_length_mm = report.focal_length;
  info.orientation = report.exif_orientation;
  info.rotated = report.exif_orientation >= 5 ? 1 : 0;
  info.has_preview = report.has_jpeg_preview ? 1 : 0;
  if (report.preview_offset != 0 && report.preview_length != 0) {
    info.preview_length = report.preview_length;
    info.preview_width = report.preview_width;
    info.preview_height = report.preview_height;
    // A container that does not state the preview's size: the one its
    // frame header gave the report.
    for (const EmbeddedImageReport& image : report.images) {
      if (image.chosen && info.preview_width == 0) {
        info.preview_width = image.width;
        info.preview_height = image.height;
      }
    }
    copy_text(info.preview_kind, report.preview_kind);
  }
  info.image_count = static_cast<std::uint32_t>(report.images.size());
}

ExifMode exif_mode_of(int exif, bool& known) {
  known = true;
  switch (exif) {
    case VELTRANO_EXIF_DEFAULT: return kDefaultExifMode;
    case VELTRANO_EXIF_BASIC: return ExifMode::basic;
    case VELTRANO_EXIF_FULL: return ExifMode::full;
    case VELTRANO_EXIF_NONE: return ExifMode::none;
  }
  known = false;
  return kDefaultExifMode;
}

// The status of a file the probe read to the end: not a RAW file this
// library reads, or one (with or without a preview), by the probe's own rule.
int probed_status(const ProbeReport& report) {
  return report.kind == ProbeFileKind::not_raw ? VELTRANO_ERROR_NOT_RAW : VELTRANO_OK;
}

constexpr unsigned kKnownFlags = VELTRANO_OVERWRITE | VELTRANO_NO_KEEP_TIMES;

// The caller's cancel flag, set by another thread.
bool cancelled(const veltrano_options* options) {
  // The flag is the caller's plain int; it is only ever read here, as an
  // atomic, while the caller stores to it atomically.
  return options && options->cancel &&
         std::atomic_ref<int>(const_cast<int&>(*options->cancel)).load(std::memory_order_acquire) != 0;
}

// Probes and extracts in one pass; on success *preview holds the buffer.
int extract(const char* path, const veltrano_options* options, ExtractedPreview& preview, veltrano_info* info) {
  static const veltrano_options kDefaults = {};
  if (!options) options = &kDefaults;
  bool known = false;
  const ExifMode mode = exif_mode_of(options->exif, known);
  if (!known || (options->flags & ~kKnownFlags) != 0) return VELTRANO_ERROR_INVALID_ARGUMENT;
  const char* software = options->software ? options->software : kVeltranoSoftware;
  if (cancelled(options)) return VELTRANO_ERROR_CANCELLED;
  const NativePath native = native_from_utf8(path);
  ProbeReport report;
  const ExtractOutcome outcome = probe_extract_preview(native, software, mode, preview, &report);
  if (info) fill_info(report, *info);
  switch (outcome) {
    case ExtractOutcome::extracted:
      if (info) info->exif_inserted = preview.exif_written ? 1 : 0;
      return cancelled(options) ? VELTRANO_ERROR_CANCELLED : VELTRANO_OK;
    case ExtractOutcome::cannot_open:
      return open_failure(native, report.open_error, info);
    case ExtractOutcome::aborted:
    case ExtractOutcome::out_of_memory:
      return VELTRANO_ERROR_OUT_OF_MEMORY;
    case ExtractOutcome::no_preview: {
      const int status = probed_status(report);
      return status == VELTRANO_OK ? VELTRANO_ERROR_NO_PREVIEW : status;
    }
    case ExtractOutcome::read_failed:
      if (info) info->system_error = EIO;
      return VELTRANO_ERROR_NOT_READABLE;
  }
  return VELTRANO_ERROR_INTERNAL;
}

struct FreeOnExit {
  unsigned char* buffer;
  ~FreeOnExit() { std::free(buffer); }
};

// True when both paths name one existing file.
bool same_file(const NativePath& a, const NativePath& b) {
  std::error_code ec;
  return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec) && !ec;
}

}  // namespace

extern "C" {

const char* veltrano_version(void) { return VELTRANO_VERSION_TEXT; }

const char* veltrano_strerror(int status) {
  switch (status) {
    case VELTRANO_OK: return "success";
    case VELTRANO_ERROR_NOT_FOUND: return "no such file";
    case VELTRANO_ERROR_NOT_READABLE: return "cannot read the file";
    case VELTRANO_ERROR_NO_PREVIEW: return "no embedded JPEG preview";
    case VELTRANO_ERROR_NOT_RAW: return "not a RAW file this library reads";
    case VELTRANO_ERROR_OUT_OF_MEMORY: return "out of memory";
    case VELTRANO_ERROR_INVALID_ARGUMENT: return "invalid argument";
    case VELTRANO_ERROR_EXISTS: return "the destination exists";
    case VELTRANO_ERROR_WRITE: return "cannot write the destination";
    case VELTRANO_ERROR_INTERNAL: return "internal error";
    case VELTRANO_ERROR_CANCELLED: return "cancelled";
  }
  return "unknown status";
}

int veltrano_probe(const char* path, veltrano_info* info) {
  if (!path || !info) return VELTRANO_ERROR_INVALID_ARGUMENT;
  *info = veltrano_info{};
  return guarded([&]() -> int {
    const NativePath native = native_from_utf8(path);
    ProbeReport report;
    if (!probe_report(native, report)) return open_failure(native, report.open_error, info);
    fill_info(report, *info);
    if (report.aborted) return VELTRANO_ERROR_OUT_OF_MEMORY;
    return probed_status(report);
  });
}

int veltrano_extract(const char* path, const veltrano_options* options, unsigned char** buffer, size_t* length,
                     veltrano_info* info) {
  if (buffer) *buffer = nullptr;
  if (length) *length = 0;
  if (info) *info = veltrano_info{};
  if (!path || !buffer || !length) return VELTRANO_ERROR_INVALID_ARGUMENT;
  ExtractedPreview preview;
  const int status = guarded([&]() -> int { return extract(path, options, preview, info); });
  if (status != VELTRANO_OK) {
    std::free(preview.buffer);
    return status;
  }
  *buffer = preview.buffer;
  *length = preview.length;
  return VELTRANO_OK;
}

int veltrano_extract_to_file(const char* path, const char* dest, const veltrano_options* options,
                             veltrano_info* info) {
  if (info) *info = veltrano_info{};
  if (!path || !dest) return VELTRANO_ERROR_INVALID_ARGUMENT;
  return guarded([&]() -> int {
    const unsigned flags = options ? options->flags : 0;
    const NativePath raw = native_from_utf8(path);
    const NativePath target = native_from_utf8(dest);
    if (target.empty()) return VELTRANO_ERROR_INVALID_ARGUMENT;
    // The RAW file itself is never the destination, whatever the flags.
    if (same_file(raw, target)) return (flags & VELTRANO_OVERWRITE) ? VELTRANO_ERROR_INVALID_ARGUMENT
                                                                    : VELTRANO_ERROR_EXISTS;
    ExtractedPreview preview;
    const int status = extract(path, options, preview, info);
    FreeOnExit owned{preview.buffer};
    if (status != VELTRANO_OK) return status;
    const FileTimes times = (flags & VELTRANO_NO_KEEP_TIMES) ? FileTimes{} : ReadFileTimes(raw);
    std::error_code error;
    const bool written = (flags & VELTRANO_OVERWRITE)
                             ? ReplaceFileAtomically(target, preview.buffer, preview.length, &times, &error)
                             : WriteFileNoReplace(target, preview.buffer, preview.length, &times, &error);
    if (written) return VELTRANO_OK;
    const int system_error = errno_of(error);
    if (info) info->system_error = system_error;
    return system_error == EEXIST ? VELTRANO_ERROR_EXISTS : VELTRANO_ERROR_WRITE;
  });
}

void veltrano_free(void* buffer) { std::free(buffer); }

void veltrano_set_diagnostic_handler(veltrano_diagnostic_fn handler, void* context) {
  try {
    std::lock_guard<std::mutex> lock(g_handler_mutex);
    g_handler = DiagnosticHandler{handler, context};
  } catch (...) {
    // A lock that cannot be taken leaves the handler as it was.
  }
}

}  // extern "C"

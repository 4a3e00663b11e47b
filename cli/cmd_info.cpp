// `veltrano info [--json] FILE...`: what the probe finds in each file.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/display_text.h"
#include "probe/probe.h"

namespace {

const char* file_kind_name(ProbeFileKind kind) {
  switch (kind) {
    case ProbeFileKind::unreadable: return "unreadable";
    case ProbeFileKind::not_raw: return "not_raw";
    case ProbeFileKind::raw_without_preview: return "raw_without_preview";
    case ProbeFileKind::raw_with_preview: return "raw";
  }
  return "unknown";
}

// Why a file gets no report: it did not open, or it is not a RAW file.
std::string no_report_reason(const ProbeReport& r) {
  if (!r.opened) return "cannot open: " + (r.open_error ? r.open_error.message() : std::string("not a regular file"));
  if (r.kind == ProbeFileKind::not_raw) return "not a RAW file Veltrano reads";
  return {};
}

std::string dng_version_text(std::uint32_t v) {
  if (!v) return {};
  return std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 255) + "." +
         std::to_string(v >> 8 & 255) + "." + std::to_string(v & 255);
}

nlohmann::json report_json(const std::string& file, const ProbeReport& r) {
  nlohmann::json j;
  SetJsonPath(j, "file", native_from_utf8(file));
  j["opened"] = r.opened;
  if (!r.opened) {
    j["error"] = r.open_error ? r.open_error.message() : "not a regular file";
    return j;
  }
  j["kind"] = file_kind_name(r.kind);
  if (r.kind == ProbeFileKind::not_raw) return j;
  // Texts from files are arbitrary bytes; keep them valid UTF-8 in JSON.
  auto text = [](const std::string& s) {
    return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  };
  j["make"] = nlohmann::json::parse(text(r.make));
  j["model"] = nlohmann::json::parse(text(r.model));
  // The names as the file records them, which the outputs carry; "make" and
  // "model" are the probe's short forms.
  j["recorded_make"] = nlohmann::json::parse(text(r.recorded_make));
  j["recorded_model"] = nlohmann::json::parse(text(r.recorded_model));
  j["model_detail"] = nlohmann::json::parse(text(r.model_detail));
  j["description"] = nlohmann::json::parse(text(r.description));
  j["artist"] = nlohmann::json::parse(text(r.artist));
  j["capture_time"] = r.capture_time ? nlohmann::json(capture_time_text(r)) : nlohmann::json();
  j["iso"] = r.iso;
  j["exposure_seconds"] = r.exposure;
  j["f_number"] = r.f_number;
  j["focal_length_mm"] = r.focal_length;
  if (r.has_gps) {
    j["gps"] = {{"latitude", r.gps_latitude},
                {"latitude_ref", std::string(1, r.gps_latitude_ref ? r.gps_latitude_ref : '?')},
                {"longitude", r.gps_longitude},
                {"longitude_ref", std::string(1, r.gps_longitude_ref ? r.gps_longitude_ref : '?')},
                {"altitude", r.gps_altitude},
                {"altitude_ref", r.gps_altitude_ref}};
  } else {
    j["gps"] = nullptr;
  }
  j["orientation_code"] = r.orientation_code;
  j["exif_orientation"] = r.exif_orientation;
  j["preview"] = {{"offset", r.preview_offset},
                  {"length", r.preview_length},
                  {"width", r.preview_width},
                  {"height", r.preview_height},
                  {"kind", r.preview_kind}};
  j["jpeg_preview"] = r.has_jpeg_preview;
  j["images"] = nlohmann::json::array();
  for (const EmbeddedImageReport& image : r.images) {
    j["images"].push_back({{"where", image.where},
                           {"offset", image.offset},
                           {"length", image.length},
                           {"width", image.width},
                           {"height", image.height},
                           {"whole", image.whole},
                           {"jpeg", image.jpeg},
                           {"chosen", image.chosen}});
  }
  j["dng_version"] = r.dng_version ? nlohmann::json(dng_version_text(r.dng_version)) : nlohmann::json();
  j["raw_supported"] = r.raw_supported;
  j["data_errors"] = r.data_errors;
  if (r.aborted) j["aborted"] = true;
  return j;
}

// Nominal shutter times (the denominators of 1/N s) and f-numbers, in
// third and half stops, as cameras show them: the recorded value, often an
// APEX power of two (1/98.7 s, f/2.83), is named by the nominal one within
// 3 % of it.
constexpr double kShutterDenominators[] = {
    2, 2.5, 3, 4, 5, 6, 8, 10, 13, 15, 20, 25, 30, 40, 45, 50, 60, 80, 90, 100, 125, 160, 180, 200, 250, 320,
    350, 400, 500, 640, 750, 800, 1000, 1250, 1500, 1600, 2000, 2500, 3000, 3200, 4000, 5000, 6000, 6400, 8000,
    10000, 12800, 16000, 20000, 25000, 32000};
constexpr double kShutterSeconds[] = {1, 1.3, 1.5, 1.6, 2, 2.5, 3, 4, 5, 6, 8, 10, 13, 15, 20, 25, 30, 60};
constexpr double kFNumbers[] = {1,  1.1, 1.2, 1.4, 1.6, 1.7, 1.8, 2,  2.2, 2.4, 2.5, 2.8, 3.2, 3.3, 3.5, 4,
                                4.5, 4.8, 5, 5.6, 6.3, 6.7, 7.1, 8, 9,  9.5, 10, 11, 13, 14, 16, 18,
                                19, 20, 22, 25, 27, 29, 32, 36, 38, 40, 45, 51, 54, 57, 64};
constexpr double kNominalTolerance = 0.03;

template <std::size_t N>
double nominal(double value, const double (&table)[N]) {
  for (double n : table)
    if (value > n * (1 - kNominalTolerance) && value < n * (1 + kNominalTolerance)) return n;
  return 0;
}

std::string decimal(double v) {
  char t[64];
  std::snprintf(t, sizeof t, "%g", v);
  return t;
}

std::string exposure_text(double seconds) {
  if (seconds <= 0) return {};
  if (seconds < 0.4) {
    const double denominator = 1 / seconds;
    double n = nominal(denominator, kShutterDenominators);
    if (n == 0) n = std::round(denominator);
    return "1/" + decimal(n) + " s";
  }
  const double n = nominal(seconds, kShutterSeconds);
  char t[64];
  std::snprintf(t, sizeof t, "%.2g", n != 0 ? n : seconds);
  return std::string(t) + " s";
}

std::string f_number_text(double f) {
  if (f <= 0) return {};
  const double n = nominal(f, kFNumbers);
  char t[64];
  std::snprintf(t, sizeof t, "f/%.2g", n != 0 ? n : f);
  return t;
}

// The Exif orientation in words: how the picture is to be turned (and
// mirrored) to stand upright.
const char* orientation_text(int exif_orientation) {
  switch (exif_orientation) {
    case 1: return "normal";
    case 2: return "mirror horizontal";
    case 3: return "rotate 180";
    case 4: return "mirror vertical";
    case 5: return "mirror horizontal and rotate 270 CW";
    case 6: return "rotate 90 CW";
    case 7: return "mirror horizontal and rotate 90 CW";
    case 8: return "rotate 270 CW";
  }
  return "unknown";
}

const char* preview_kind_text(const std::string& kind) {
  if (kind == "jpeg_thumb") return "JPEG";
  if (kind == "ppm_thumb") return "uncompressed RGB (not extracted)";
  if (kind == "layer_thumb") return "uncompressed RGB layers (not extracted)";
  if (kind == "rollei_thumb") return "Rollei RGB (not extracted)";
  if (kind == "foveon_thumb") return "Foveon RGB (not extracted)";
  return "unknown";
}

void print_text(const std::string& file, const ProbeReport& r) {
  std::printf("%s\n", DisplayText(file).c_str());
  // A line for each value the file gave; nothing for the others.
  auto line = [](const char* name, const std::string& value) {
    if (!value.empty()) std::printf("  %-18s %s\n", name, DisplayText(value).c_str());
  };
  auto positive = [](double v, const char* unit) { return v > 0 ? decimal(v) + unit : std::string(); };
  // The names as the camera recorded them, then the probe's short forms.
  line("make:", r.recorded_make);
  line("model:", r.recorded_model);
  line("short names:", r.make + (r.make.empty() || r.model.empty() ? "" : ", ") + r.model);
  line("model detail:", r.model_detail);
  line("description:", r.description);
  line("artist:", r.artist);
  line("capture time:", capture_time_text(r));
  line("iso:", positive(r.iso, ""));
  line("exposure:", exposure_text(r.exposure));
  line("aperture:", f_number_text(r.f_number));
  line("focal length:", positive(r.focal_length, " mm"));
  if (r.has_gps) {
    line("gps:", decimal(r.gps_latitude) + " " + std::string(1, r.gps_latitude_ref) + ", " +
                     decimal(r.gps_longitude) + " " + std::string(1, r.gps_longitude_ref) + ", " +
                     decimal(r.gps_altitude) + " m");
  }
  line("orientation:", orientation_text(r.exif_orientation));
  if (r.preview_length > 0)
    line("preview:", std::string(preview_kind_text(r.preview_kind)) + ", " + std::to_string(r.preview_width) + "x" +
                         std::to_string(r.preview_height) + ", " + std::to_string(r.preview_length) +
                         " bytes at offset " + std::to_string(r.preview_offset));
  line("jpeg preview:", r.has_jpeg_preview ? "yes" : "no");
  // Every embedded image found; "*" marks the one chosen as the preview.
  line("embedded images:", std::to_string(r.images.size()));
  for (const EmbeddedImageReport& image : r.images) {
    std::string size = image.width ? std::to_string(image.width) + "x" + std::to_string(image.height) : "size unknown";
    const char* what = image.jpeg ? (image.whole ? "JPEG" : "JPEG, cut off by the end of the file")
                                  : (image.whole ? "not a JPEG" : "runs past the end of the file");
    std::printf("  %s %s, offset %lld, length %u, %s, %s\n", image.chosen ? "*" : " ", image.where.c_str(),
                static_cast<long long>(image.offset), image.length, size.c_str(), what);
  }
  line("dng version:", dng_version_text(r.dng_version));
  if (r.data_errors) line("data errors:", std::to_string(r.data_errors));
}

}  // namespace

void add_info_command(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand("info", "Show what the probe finds in each file");
  auto files = std::make_shared<std::vector<std::string>>();
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "One JSON object per file, one per line");
  cmd->add_option("FILE", *files, "Files to probe")->required();
  cmd->callback([files, json, exit_code] {
    int rc = kExitOk;
    for (const std::string& file : *files) {
      ProbeReport report;
      probe_report(native_from_utf8(file), report);
      const std::string reason = no_report_reason(report);
      if (!reason.empty()) {
        rc = kExitFailed;
        std::fprintf(stderr, "veltrano: %s: %s\n", DisplayText(file).c_str(), reason.c_str());
      }
      if (*json) {
        std::cout << report_json(file, report).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                  << "\n";
      } else if (reason.empty()) {
        print_text(file, report);
      }
    }
    std::cout.flush();
    *exit_code = rc;
  });
}

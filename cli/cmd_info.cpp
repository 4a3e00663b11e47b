// `veltrano info [--json] FILE...`: what the probe finds in each file.
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

void print_text(const std::string& file, const ProbeReport& r) {
  std::printf("%s\n", DisplayText(file).c_str());
  auto line = [](const char* name, const std::string& value) {
    std::printf("  %-18s %s\n", name, DisplayText(value).c_str());
  };
  auto number = [](double v) {
    char t[64];
    std::snprintf(t, sizeof t, "%g", v);
    return std::string(t);
  };
  // The names as the camera recorded them, then the probe's short forms.
  line("make:", r.recorded_make);
  line("model:", r.recorded_model);
  line("short names:", r.make + (r.make.empty() || r.model.empty() ? "" : ", ") + r.model);
  line("model detail:", r.model_detail);
  line("description:", r.description);
  line("artist:", r.artist);
  line("capture time:", capture_time_text(r));
  line("iso:", number(r.iso));
  line("exposure:", r.exposure > 0 && r.exposure < 1 ? "1/" + number(1 / r.exposure) + " s" : number(r.exposure) + " s");
  line("f-number:", number(r.f_number));
  line("focal length:", number(r.focal_length) + " mm");
  if (r.has_gps) {
    line("gps:", number(r.gps_latitude) + " " + std::string(1, r.gps_latitude_ref) + ", " +
                     number(r.gps_longitude) + " " + std::string(1, r.gps_longitude_ref) + ", " +
                     number(r.gps_altitude) + " m");
  } else {
    line("gps:", "");
  }
  line("orientation:", std::to_string(r.orientation_code) + " (Exif " + std::to_string(r.exif_orientation) + ")");
  line("preview:", "offset " + std::to_string(r.preview_offset) + ", length " + std::to_string(r.preview_length) +
                       ", " + std::to_string(r.preview_width) + "x" + std::to_string(r.preview_height) + ", " +
                       r.preview_kind);
  line("jpeg preview:", r.has_jpeg_preview ? "yes" : "no");
  // Every embedded image found; "*" marks the one chosen as the preview.
  line("embedded images:", std::to_string(r.images.size()));
  for (const EmbeddedImageReport& image : r.images) {
    std::string size = image.width ? std::to_string(image.width) + "x" + std::to_string(image.height) : "size unknown";
    const char* what = image.jpeg ? (image.whole ? "JPEG" : "JPEG, cut off by the end of the file")
                                  : (image.whole ? "not a JPEG" : "runs past the end of the file");
    std::printf("  %s %-28s offset %lld, length %u, %s, %s\n", image.chosen ? "*" : " ", image.where.c_str(),
                static_cast<long long>(image.offset), image.length, size.c_str(), what);
  }
  line("dng version:", dng_version_text(r.dng_version));
  line("raw supported:", std::to_string(r.raw_supported));
  line("data errors:", std::to_string(r.data_errors));
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

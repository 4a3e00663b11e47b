// `veltrano settings [--reset]`: shows the settings file and its values, or
// restores the defaults.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "job/output_names.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"

namespace {

int RunSettings(bool reset) {
  const NativePath path = SettingsFilePath();
  if (path.empty()) {
    std::fprintf(stderr, "veltrano: no per-user configuration folder (HOME is not set)\n");
    return kExitFailed;
  }
  LoadSettingsFromPath(path);
  SettingsRecord record;
  if (reset) {
    record = SettingsRecord{};
    record.SaveToStore();  // other sections and keys of the file stay as they are
    if (!SaveSettingsToPath(path)) {
      std::fprintf(stderr, "veltrano: the settings could not be saved to %s\n", native_to_utf8(path).c_str());
      return kExitFailed;
    }
  }
  record.LoadFromStore();
  std::error_code ec;
  const bool present = std::filesystem::exists(std::filesystem::path(path), ec);
  std::printf("Settings file: %s%s\n", native_to_utf8(path).c_str(), present ? "" : " (absent: defaults)");
  std::printf("Sizes: %s\n", record.makeSmallerCopies ? "smaller" : "native");
  std::printf("Max width: %d\n", record.maxWidth);
  std::printf("Max height: %d\n", record.maxHeight);
  std::printf("Suffix: %s\n", record.addSuffix ? "on" : "off");
  std::printf("Subfolders: %s\n", record.useSubfolders ? "on" : "off");
  std::printf("Exif: %s\n", record.exifMode == 1 ? "full" : "basic");
  if (reset) std::printf("Defaults restored.\n");
  return kExitOk;
}

}  // namespace

void add_settings_command(CLI::App& app, int* exit_code) {
  auto reset = std::make_shared<bool>(false);
  CLI::App* cmd = app.add_subcommand("settings", "Show the settings file and its values");
  cmd->add_flag("--reset", *reset, "Restore the default settings");
  cmd->callback([reset, exit_code] { *exit_code = RunSettings(*reset); });
}

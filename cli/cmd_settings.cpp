// `veltrano settings [--reset]`: shows the settings file, its values and
// what is wrong with it, or restores the defaults.
// `veltrano settings set KEY VALUE`: changes one stored value.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "job/output_names.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"

namespace {

// The values `settings set` changes: the name it takes, the record's key,
// and the words for 0 and 1, or (zero null) the range of the number and
// what it counts.
struct SettableKey {
  const char* name;
  std::int32_t key;
  const char* zero;
  const char* one;
  std::int32_t min = 0, max = 0;
  const char* unit = nullptr;
};
constexpr SettableKey kSettable[] = {
    {"sizes", kKeyMakeSmallerCopies, "native", "smaller"},
    {"max-width", kKeyMaxWidth, nullptr, nullptr, 1, kMaxBoxSide, "a number of pixels"},
    {"max-height", kKeyMaxHeight, nullptr, nullptr, 1, kMaxBoxSide, "a number of pixels"},
    {"suffix", kKeyAddSuffix, "off", "on"},
    {"subfolders", kKeyUseSubfolders, "off", "on"},
    {"exif", kKeyExifMode, exif_mode_name(exif_mode_of_setting(0)), exif_mode_name(exif_mode_of_setting(1))},
    {"quality", kKeyScaledQuality, nullptr, nullptr, kMinScaledQuality, kMaxScaledQuality,
     "a JPEG quality for scaled copies"},
};

bool BoxSideWorks(std::int32_t side) { return side >= 1 && side <= kMaxBoxSide; }

const char* StateNote(SettingsFileState state) {
  switch (state) {
    case SettingsFileState::kAbsent: return " (absent: defaults)";
    case SettingsFileState::kRead: return "";
    case SettingsFileState::kUnreadable: return " (cannot be read: defaults)";
    case SettingsFileState::kForeign:
      return " (not a Veltrano settings file: defaults; `veltrano settings --reset` replaces it)";
    case SettingsFileState::kDamaged:
      return " (damaged: what follows the damage is read as defaults; `veltrano settings --reset` rewrites it)";
  }
  return "";
}

// Prints the file's path and state and the record as loaded, each stored
// value that cannot work flagged.
void ShowSettings(const NativePath& path, SettingsFileState state) {
  SettingsRecord record;
  record.LoadFromStore();
  std::printf("Settings file: %s%s\n", native_to_utf8(path).c_str(), StateNote(state));
  auto box = [](std::int32_t side) {
    return std::to_string(side) +
           (BoxSideWorks(side) ? "" : "  (cannot work: must be 1 to " + std::to_string(kMaxBoxSide) + ")");
  };
  std::printf("Sizes: %s\n", record.makeSmallerCopies ? "smaller" : "native");
  std::printf("Max width: %s\n", box(record.maxWidth).c_str());
  std::printf("Max height: %s\n", box(record.maxHeight).c_str());
  std::printf("Suffix: %s\n", record.addSuffix ? "on" : "off");
  std::printf("Subfolders: %s\n", record.useSubfolders ? "on" : "off");
  std::printf("Exif: %s\n", exif_mode_name(record.Exif()));
  std::printf("Quality: %d%s\n", record.scaledQuality,
              record.ScaledQuality() == record.scaledQuality ? "" : "  (cannot work: must be 1 to 100; 95 is used)");
  SettingsStoreAccess access;
  for (const SettableKey& k : kSettable) {
    const SettingValue* v = access.store().Find(kRecordSection, k.key);
    if (v && v->kind != SettingKind::Integer)
      std::printf("Note: %s is stored as something other than a number; the default is used\n", k.name);
  }
}

NativePath SettingsPathOrComplain() {
  NativePath path = SettingsFilePath();
  if (path.empty()) std::fprintf(stderr, "veltrano: no per-user configuration folder (HOME is not set)\n");
  return path;
}

bool Save(const NativePath& path) {
  if (SaveSettingsToPath(path)) return true;
  std::fprintf(stderr, "veltrano: the settings could not be saved to %s\n", native_to_utf8(path).c_str());
  return false;
}

int RunSettings(bool reset) {
  const NativePath path = SettingsPathOrComplain();
  if (path.empty()) return kExitFailed;
  SettingsFileState state = LoadSettingsFromPath(path);
  if (reset) {
    SettingsRecord{}.SaveToStore();  // other sections and keys of the file stay as they are
    if (!Save(path)) return kExitFailed;
    state = SettingsFileState::kRead;
  }
  ShowSettings(path, state);
  if (reset) std::printf("Defaults restored.\n");
  return kExitOk;
}

// The value for the key, or nothing (with the reason on standard error).
std::optional<std::int32_t> ParseValue(const SettableKey& k, const std::string& text) {
  if (k.zero) {
    if (text == k.zero) return 0;
    if (text == k.one) return 1;
    std::fprintf(stderr, "veltrano: %s takes %s or %s, not \"%s\"\n", k.name, k.zero, k.one, text.c_str());
    return std::nullopt;
  }
  std::int32_t number = 0;
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) number = number * 10 + (c - '0');
  }
  if (digits && number >= k.min && number <= k.max) return number;
  std::fprintf(stderr, "veltrano: %s takes %s from %d to %d, not \"%s\"\n", k.name, k.unit, k.min, k.max,
               text.c_str());
  return std::nullopt;
}

int RunSet(const std::string& name, const std::string& text) {
  const SettableKey* key = nullptr;
  for (const SettableKey& k : kSettable)
    if (name == k.name) key = &k;
  if (!key) {
    std::string names;
    for (const SettableKey& k : kSettable) names += std::string(names.empty() ? "" : ", ") + k.name;
    std::fprintf(stderr, "veltrano: no setting \"%s\"; settings: %s\n", name.c_str(), names.c_str());
    return kExitUsage;
  }
  const std::optional<std::int32_t> value = ParseValue(*key, text);
  if (!value) return kExitUsage;
  const NativePath path = SettingsPathOrComplain();
  if (path.empty()) return kExitFailed;
  const SettingsFileState state = LoadSettingsFromPath(path);
  if (state != SettingsFileState::kRead && state != SettingsFileState::kAbsent) {
    // Writing would lose what the file holds beyond what could be read.
    std::fprintf(stderr, "veltrano: %s%s; nothing changed\n", native_to_utf8(path).c_str(), StateNote(state));
    return kExitFailed;
  }
  SetIntSetting(kRecordSection, key->key, *value);  // only this entry changes
  if (!Save(path)) return kExitFailed;
  ShowSettings(path, SettingsFileState::kRead);
  return kExitOk;
}

}  // namespace

void add_settings_command(CLI::App& app, int* exit_code) {
  struct Args {
    bool reset = false;
    std::string key, value;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("settings", "Show the settings file and its values");
  CLI::Option* reset = cmd->add_flag("--reset", args->reset, "Restore the default settings");
  // The keys and their values, from the table `settings set` reads.
  std::string keys, forms;
  for (const SettableKey& k : kSettable) {
    keys += std::string(keys.empty() ? "" : ", ") + k.name;
    forms += std::string(forms.empty() ? "" : ", ") + k.name + " " +
             (k.zero ? std::string(k.zero) + "|" + k.one
                     : "N (" + std::to_string(k.min) + " to " + std::to_string(k.max) + ")");
  }
  CLI::App* set = cmd->add_subcommand("set", "Change one stored value: " + forms);
  set->add_option("KEY", args->key, keys)->required();
  set->add_option("VALUE", args->value, "The new value")->required();
  set->callback([args, exit_code, reset] {
    if (reset->count() > 0) throw CLI::ValidationError("--reset", "cannot be combined with set");
    *exit_code = RunSet(args->key, args->value);
  });
  cmd->callback([args, exit_code, set] {
    if (set->parsed()) return;  // `settings set` has run
    *exit_code = RunSettings(args->reset);
  });
}

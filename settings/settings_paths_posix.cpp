// The per-user application-data folder on Linux and macOS.
#include <cstdlib>

#include "settings/settings_store.h"

namespace {

NativePath LookUpAppDataFolder() {
  // A relative $XDG_CONFIG_HOME is invalid and ignored.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return NativePath(config);
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    NativePath folder(home);
    if (folder.back() != '/') folder += '/';
    return folder + ".config";
  }
  return {};
}

}  // namespace

NativePath AppDataFolder() {
  static const NativePath folder = LookUpAppDataFolder();
  return folder;
}

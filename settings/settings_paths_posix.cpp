// The per-user application-data folder on Linux and macOS.
#include "platform/desktop_session.h"
#include "settings/settings_store.h"

namespace {

NativePath LookUpAppDataFolder() { return XdgBaseFolder("XDG_CONFIG_HOME", ".config"); }

}  // namespace

NativePath AppDataFolder() {
  static const NativePath folder = LookUpAppDataFolder();
  return folder;
}

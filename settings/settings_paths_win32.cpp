// The per-user (roaming) application-data folder on Windows.
#include <windows.h>
#include <shlobj.h>

#include "settings/settings_store.h"

namespace {

NativePath LookUpAppDataFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return {};
  return NativePath(buffer);
}

}  // namespace

NativePath AppDataFolder() {
  static const NativePath folder = LookUpAppDataFolder();
  return folder;
}

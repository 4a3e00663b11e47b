#include "platform/machine_path.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "platform/path_list.h"

namespace {

constexpr wchar_t kEnvironmentKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kPathValue[] = L"Path";

std::wstring SystemMessage(LONG error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length ? std::wstring(text, length) : L"error " + std::to_wstring(error);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return message;
}

class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* Put() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

struct PathValue {
  DWORD type = REG_EXPAND_SZ;
  std::wstring text;
};

// The value as stored, never expanded; a missing value reads as an empty
// REG_EXPAND_SZ. Any other type, or data that is no UTF-16 text, is refused.
LONG ReadPath(HKEY key, PathValue& value) {
  std::vector<BYTE> data(4096);
  for (;;) {
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(data.size());
    const LONG error = RegQueryValueExW(key, kPathValue, nullptr, &type, data.data(), &bytes);
    if (error == ERROR_FILE_NOT_FOUND) {
      value = PathValue{};
      return ERROR_SUCCESS;
    }
    if (error == ERROR_MORE_DATA) {
      data.resize(bytes + sizeof(wchar_t));
      continue;
    }
    if (error != ERROR_SUCCESS) return error;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes % sizeof(wchar_t) != 0) return ERROR_INVALID_DATA;
    value.type = type;
    value.text.assign(reinterpret_cast<const wchar_t*>(data.data()), bytes / sizeof(wchar_t));
    while (!value.text.empty() && value.text.back() == L'\0') value.text.pop_back();
    return ERROR_SUCCESS;
  }
}

LONG WritePath(HKEY key, const PathValue& value) {
  return RegSetValueExW(key, kPathValue, 0, value.type, reinterpret_cast<const BYTE*>(value.text.c_str()),
                        static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
}

// Tells running programs (the file browser above all) that the environment
// changed; one that does not answer within 5 s is not waited for.
void Broadcast() {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 5000, &ignored);
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring Expanded(const std::wstring& text) {
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return text;
  std::wstring expanded(needed, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
  if (written == 0 || written > needed) return text;
  expanded.resize(written - 1);
  return expanded;
}

// Opens the key, computes the new text with `edit` (nothing: no change) and
// writes it back with the value's own type.
template <class Edit>
MachinePathResult EditMachinePath(std::wstring& why, Edit edit) {
  OpenKey key;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnvironmentKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Put());
  PathValue value;
  if (error == ERROR_SUCCESS) error = ReadPath(key.Get(), value);
  if (error != ERROR_SUCCESS) {
    why = L"cannot read the machine PATH: " + SystemMessage(error);
    return MachinePathResult::kFailed;
  }
  std::optional<std::wstring> edited = edit(value.text);
  if (!edited) return MachinePathResult::kUnchanged;
  value.text = std::move(*edited);
  if (error = WritePath(key.Get(), value); error != ERROR_SUCCESS) {
    why = L"cannot write the machine PATH: " + SystemMessage(error);
    return MachinePathResult::kFailed;
  }
  Broadcast();
  return MachinePathResult::kChanged;
}

}  // namespace

MachinePathResult machine_path_add(const std::wstring& folder, std::wstring& why) {
  const std::wstring wanted = path_list_folder(Expanded(folder));
  return EditMachinePath(why, [&](const std::wstring& list) -> std::optional<std::wstring> {
    for (const PathListEntry& entry : path_list_entries(list))
      if (SameFolder(path_list_folder(Expanded(std::wstring(path_list_text(list, entry)))), wanted)) return {};
    return path_list_append(list, folder);
  });
}

MachinePathResult machine_path_remove(const std::wstring& folder, std::wstring& why) {
  const std::wstring wanted = path_list_folder(folder);
  return EditMachinePath(why, [&](const std::wstring& list) -> std::optional<std::wstring> {
    const std::vector<PathListEntry> entries = path_list_entries(list);
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
      if (SameFolder(path_list_folder(path_list_text(list, *entry)), wanted)) return path_list_erase(list, *entry);
    return {};
  });
}

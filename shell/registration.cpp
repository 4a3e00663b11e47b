// Self-registration: the approval value, then the module's registry script
// (resource IDR_REGISTRY, resources/veltrano.rgs) carried out with the
// registry calls: the class key with its in-process server and the two
// "VozaduvEreZud" context-menu handler entries. The script is the one
// description of that content; nothing here repeats it.
//
// Both directions also take away what version 1.50 registered under the
// class id it used (not made for this project, and found in other programs),
// but only where that registration names this very DLL.
#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"
#include "shell/com_ptr.h"
#include "shell/module.h"
#include "shell/registry_script.h"

namespace veltrano::shell {
namespace {

constexpr wchar_t kApprovalKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<unsigned long>(error)); }

bool IsNtFamily() { return (GetVersion() & 0x80000000u) == 0; }

// Creates or opens `parent\name` for reading and writing.
LONG CreateKey(HKEY parent, const wchar_t* name, UniqueHKey& key) {
  return RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                         key.Put(), nullptr);
}

// Deletes `parent\name` with its whole subtree; a missing key is no error.
LONG DeleteTree(HKEY parent, const wchar_t* name) {
  const LONG error = RegDeleteTreeW(parent, name);
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

// A key the registration owns: whatever was there before goes first.
LONG ReplaceKey(HKEY parent, const wchar_t* name, UniqueHKey& key) {
  if (const LONG error = DeleteTree(parent, name); error != ERROR_SUCCESS) return error;
  return CreateKey(parent, name, key);
}

// REG_SZ value, stored with its terminating zero; null name: default value.
LONG SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Full path of this DLL; ERROR_INSUFFICIENT_BUFFER when it has 260 or more
// characters.
LONG ModulePath(std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(ModuleHandle(), buffer, MAX_PATH);
  if (length == 0) return static_cast<LONG>(GetLastError());
  if (length >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
  path.assign(buffer, length);
  return ERROR_SUCCESS;
}

// Whether `registered` (an InprocServer32 value, environment variables
// allowed) names the same file as `module`: the same volume and file index,
// so that another spelling of the path (case, short names) still matches and
// a file of the same name elsewhere does not.
bool NamesSameFile(const std::wstring& registered, const std::wstring& module) {
  wchar_t expanded[MAX_PATH];
  const DWORD length = ExpandEnvironmentStringsW(registered.c_str(), expanded, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return false;
  auto identity = [](const wchar_t* path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return ok != FALSE;
  };
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  return identity(expanded, a) && identity(module.c_str(), b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// The default value of `parent\name` as text (REG_SZ or REG_EXPAND_SZ).
bool DefaultText(HKEY parent, const std::wstring& name, std::wstring& text) {
  UniqueHKey key;
  if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
      ERROR_SUCCESS)
    return false;
  buffer.resize(bytes / sizeof(wchar_t));
  while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
  text = std::move(buffer);
  return true;
}

// Removes version 1.50's class key, its handler entry under
// AllFilesystemObjects and its approval value, when the class key's
// in-process server is this module. Another program's registration under
// the same id stays as it is. Failures are ignored: what is left is foreign
// or harmless, and the new registration does not depend on it.
void RemoveLegacyRegistration(const std::wstring& module) {
  const std::wstring classKey = std::wstring(L"CLSID\\") + kLegacyClsidText;
  std::wstring server;
  if (!DefaultText(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", server) || !NamesSameFile(server, module))
    return;
  DeleteTree(HKEY_CLASSES_ROOT, classKey.c_str());
  const wchar_t handler[] = L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud";
  std::wstring named;
  if (DefaultText(HKEY_CLASSES_ROOT, handler, named) && CompareStringOrdinal(named.c_str(), -1, kLegacyClsidText, -1,
                                                                             TRUE) == CSTR_EQUAL)
    DeleteTree(HKEY_CLASSES_ROOT, handler);
  if (IsNtFamily()) {
    UniqueHKey approval;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovalKey, 0, KEY_SET_VALUE, approval.Put()) == ERROR_SUCCESS)
      RegDeleteValueW(approval.Get(), kLegacyClsidText);
  }
}

// The registry script of the module, as text.
bool LoadScript(std::wstring& script) {
  HRSRC found = FindResourceW(ModuleHandle(), MAKEINTRESOURCEW(IDR_REGISTRY), L"REGISTRY");
  HGLOBAL loaded = found ? LoadResource(ModuleHandle(), found) : nullptr;
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr) return false;
  const int size = static_cast<int>(SizeofResource(ModuleHandle(), found));
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
  if (size > 0 && length <= 0) return false;
  script.assign(static_cast<std::size_t>(length), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, script.data(), length);
  return true;
}

// The parsed script with the module path put in.
LONG ReadScript(const std::wstring& module, std::vector<ScriptRoot>& roots) {
  std::wstring script;
  if (!LoadScript(script)) return ERROR_RESOURCE_DATA_NOT_FOUND;
  return ParseRegistryScript(script, module, roots) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

HKEY RootKey(const std::wstring& name) {
  return name == L"HKLM" ? HKEY_LOCAL_MACHINE : name == L"HKCU" ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

LONG WriteKey(HKEY parent, const ScriptKey& entry) {
  UniqueHKey key;
  const LONG opened = entry.removal == ScriptKey::Removal::kForceRemove ? ReplaceKey(parent, entry.name.c_str(), key)
                                                                         : CreateKey(parent, entry.name.c_str(), key);
  if (opened != ERROR_SUCCESS) return opened;
  for (const ScriptValue& value : entry.values)
    if (LONG e = SetText(key.Get(), value.name.empty() ? nullptr : value.name.c_str(), value.text); e != ERROR_SUCCESS)
      return e;
  for (const ScriptKey& child : entry.children)
    if (LONG e = WriteKey(key.Get(), child); e != ERROR_SUCCESS) return e;
  return ERROR_SUCCESS;
}

// Deletes a key of the script with its subtree, or, for a NoRemove key,
// only what the script has below it. A missing key is no error.
LONG RemoveKey(HKEY parent, const ScriptKey& entry) {
  if (entry.removal != ScriptKey::Removal::kNoRemove) return DeleteTree(parent, entry.name.c_str());
  UniqueHKey key;
  const LONG opened = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
  if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (opened != ERROR_SUCCESS) return opened;
  for (const ScriptKey& child : entry.children)
    if (LONG e = RemoveKey(key.Get(), child); e != ERROR_SUCCESS) return e;
  return ERROR_SUCCESS;
}

HRESULT RegisterServer() {
  if (IsNtFamily()) {
    UniqueHKey approval;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApprovalKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, approval.Put(), nullptr) != ERROR_SUCCESS)
      return E_ACCESSDENIED;
    if (SetText(approval.Get(), kClsidText, kDescription) != ERROR_SUCCESS) return E_ACCESSDENIED;
  }
  std::wstring module;
  if (LONG e = ModulePath(module); e != ERROR_SUCCESS) return FromWin32(e);
  std::vector<ScriptRoot> roots;
  if (LONG e = ReadScript(module, roots); e != ERROR_SUCCESS) return FromWin32(e);
  RemoveLegacyRegistration(module);
  for (const ScriptRoot& root : roots)
    for (const ScriptKey& key : root.keys)
      if (LONG e = WriteKey(RootKey(root.root), key); e != ERROR_SUCCESS) return FromWin32(e);
  return S_OK;
}

HRESULT UnregisterServer() {
  if (IsNtFamily()) {
    UniqueHKey approval;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovalKey, 0, KEY_SET_VALUE, approval.Put()) == ERROR_SUCCESS)
      RegDeleteValueW(approval.Get(), kClsidText);
  }
  // Version 1.50's keys go too, when they name this file.
  if (std::wstring module; ModulePath(module) == ERROR_SUCCESS) RemoveLegacyRegistration(module);
  // The module path only fills values, which removal never reads.
  std::vector<ScriptRoot> roots;
  if (LONG e = ReadScript(std::wstring(), roots); e != ERROR_SUCCESS) return FromWin32(e);
  for (const ScriptRoot& root : roots)
    for (const ScriptKey& key : root.keys)
      if (LONG e = RemoveKey(RootKey(root.root), key); e != ERROR_SUCCESS) return FromWin32(e);
  return S_OK;
}

}  // namespace
}  // namespace veltrano::shell

extern "C" HRESULT __stdcall DllRegisterServer() {
  return veltrano::shell::ComBarrier([] { return veltrano::shell::RegisterServer(); });
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  return veltrano::shell::ComBarrier([] { return veltrano::shell::UnregisterServer(); });
}

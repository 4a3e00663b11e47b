// Self-registration: the class key with its in-process server, the two
// "VozaduvEreZud" context-menu handler entries, and the approval value.
//
// The registry content is the one of the module's registry script (resource
// 101), carried out here with direct registry calls:
//
//   HKCR\CLSID                                              (kept)
//     {5E2121EE-...}          = "Veltrano Shell Extension"  (replaced)
//       InprocServer32        = <module path>, ThreadingModel = "Apartment"
//       ShellEx\ContextMenuHandlers\VozaduvEreZud = "{5E2121EE-...}"  (each replaced)
//   HKCR\AllFilesystemObjects\ShellEx\ContextMenuHandlers   (kept)
//     VozaduvEreZud           = "{5E2121EE-...}"            (replaced)
//
// A replaced key is deleted with everything below it before it is written,
// and deleted on unregistration; a kept key is created when missing and
// never deleted.
#include <windows.h>

#include <string>

#include "shell/com_ptr.h"
#include "shell/module.h"

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

// The handler chain ShellEx\ContextMenuHandlers\VozaduvEreZud below the class key.
LONG WriteClassHandlerEntry(HKEY classKey) {
  UniqueHKey shellEx, handlers, handler;
  if (LONG e = ReplaceKey(classKey, L"ShellEx", shellEx); e != ERROR_SUCCESS) return e;
  if (LONG e = ReplaceKey(shellEx.Get(), L"ContextMenuHandlers", handlers); e != ERROR_SUCCESS) return e;
  if (LONG e = ReplaceKey(handlers.Get(), kHandlerName, handler); e != ERROR_SUCCESS) return e;
  return SetText(handler.Get(), nullptr, kClsidText);
}

LONG WriteClassKey(const std::wstring& module) {
  UniqueHKey clsidRoot, classKey, server;
  if (LONG e = CreateKey(HKEY_CLASSES_ROOT, L"CLSID", clsidRoot); e != ERROR_SUCCESS) return e;
  if (LONG e = ReplaceKey(clsidRoot.Get(), kClsidText, classKey); e != ERROR_SUCCESS) return e;
  if (LONG e = SetText(classKey.Get(), nullptr, kDescription); e != ERROR_SUCCESS) return e;
  if (LONG e = CreateKey(classKey.Get(), L"InprocServer32", server); e != ERROR_SUCCESS) return e;
  if (LONG e = SetText(server.Get(), nullptr, module); e != ERROR_SUCCESS) return e;
  if (LONG e = SetText(server.Get(), L"ThreadingModel", L"Apartment"); e != ERROR_SUCCESS) return e;
  return WriteClassHandlerEntry(classKey.Get());
}

LONG WriteAllFilesystemObjectsEntry() {
  UniqueHKey objects, shellEx, handlers, handler;
  if (LONG e = CreateKey(HKEY_CLASSES_ROOT, L"AllFilesystemObjects", objects); e != ERROR_SUCCESS) return e;
  if (LONG e = CreateKey(objects.Get(), L"ShellEx", shellEx); e != ERROR_SUCCESS) return e;
  if (LONG e = CreateKey(shellEx.Get(), L"ContextMenuHandlers", handlers); e != ERROR_SUCCESS) return e;
  if (LONG e = ReplaceKey(handlers.Get(), kHandlerName, handler); e != ERROR_SUCCESS) return e;
  return SetText(handler.Get(), nullptr, kClsidText);
}

// Deletes `root\path\name` with its subtree when `root\path` exists; the kept
// keys on the way are only opened.
LONG RemoveBelow(HKEY root, const wchar_t* path, const wchar_t* name) {
  UniqueHKey parent;
  const LONG opened = RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WRITE, parent.Put());
  if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (opened != ERROR_SUCCESS) return opened;
  return DeleteTree(parent.Get(), name);
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
  if (LONG e = WriteClassKey(module); e != ERROR_SUCCESS) return FromWin32(e);
  if (LONG e = WriteAllFilesystemObjectsEntry(); e != ERROR_SUCCESS) return FromWin32(e);
  return S_OK;
}

HRESULT UnregisterServer() {
  if (IsNtFamily()) {
    UniqueHKey approval;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovalKey, 0, KEY_SET_VALUE, approval.Put()) == ERROR_SUCCESS)
      RegDeleteValueW(approval.Get(), kClsidText);
  }
  if (LONG e = RemoveBelow(HKEY_CLASSES_ROOT, L"CLSID", kClsidText); e != ERROR_SUCCESS) return FromWin32(e);
  if (LONG e = RemoveBelow(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers", kHandlerName);
      e != ERROR_SUCCESS)
    return FromWin32(e);
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

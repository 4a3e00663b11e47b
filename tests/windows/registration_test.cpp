// Registration of Veltrano.dll as the system's own tools do it: regsvr32
// registers and unregisters, reg query reads the registry back. Checks the
// exact keys and values, that registering twice gives the same state (the
// replaced keys are not merged), that unregistration removes the class key
// and both handler entries while the kept keys stay, the approval value,
// and the refusals: E_ACCESSDENIED when the approval key cannot be written
// and 0x8007007A for a module path of 260 characters or more.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "shell/registry_script.h"
#include "tests/windows/wintest.h"
#include "veltrano_class_ids.h"

namespace {

const std::wstring kClsid = VELTRANO_CLSID_SIMPLE_SHL_EXT_W;
const std::wstring kLegacyClsid = VELTRANO_CLSID_LEGACY_SHL_EXT_W;
const std::wstring kClassKey = L"HKEY_CLASSES_ROOT\\CLSID\\" + kClsid;
const std::wstring kHandlersKey = L"HKEY_CLASSES_ROOT\\AllFilesystemObjects\\ShellEx\\ContextMenuHandlers";
const std::wstring kApprovedPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::wstring kShellExtensionsPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";

std::wstring Upper(std::wstring s) {
  CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, buffer);
  return buffer;
}

// Runs a command line of the system's tools, its output going to a file that
// is read back. Returns the exit code, or -1 when it could not start.
int Run(const std::wstring& commandLine, std::string* output = nullptr) {
  // A fresh file each time: helper processes that the tools start may
  // inherit the handle and keep an earlier file open.
  static int serial = 0;
  const std::wstring outPath = TempFolder() + L"veltrano_registration_" + std::to_wstring(GetCurrentProcessId()) +
                               L"_" + std::to_wstring(++serial) + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot create %s: error %lu\n", wintest::Narrow(outPath).c_str(), GetLastError());
    return -1;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  const BOOL started =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  CloseHandle(out);
  if (!started) {
    std::fprintf(stderr, "cannot run %s: error %lu\n", wintest::Narrow(commandLine).c_str(), GetLastError());
    return -1;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (output) {
    output->clear();
    HANDLE in = CreateFileW(outPath.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in != INVALID_HANDLE_VALUE) {
      char chunk[4096];
      DWORD got = 0;
      while (ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got > 0) output->append(chunk, got);
      CloseHandle(in);
    }
  }
  DeleteFileW(outPath.c_str());
  return static_cast<int>(code);
}

int Regsvr32(bool unregister) {
  return Run(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + wintest::DllPath() + L"\"");
}

// One value as reg query shows it: type name and data.
using Values = std::map<std::wstring, std::pair<std::wstring, std::wstring>>;
// Key path (upper case) -> its values.
using Tree = std::map<std::wstring, Values>;

// Reads a subtree with "reg query KEY /s". Empty with ok = false when the
// key does not exist (reg's exit code 1).
Tree Query(const std::wstring& key, bool& ok) {
  std::string text;
  const int code = Run(L"reg.exe query \"" + key + L"\" /s", &text);
  ok = code == 0;
  Tree tree;
  if (!ok) return tree;
  std::wstring current;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string narrow = text.substr(start, end - start);
    start = end + 1;
    if (!narrow.empty() && narrow.back() == '\r') narrow.pop_back();
    const std::wstring line(narrow.begin(), narrow.end());
    if (line.rfind(L"HKEY_", 0) == 0) {
      current = Upper(line);
      tree[current];
    } else if (line.rfind(L"    ", 0) == 0 && !current.empty()) {
      const std::wstring rest = line.substr(4);
      const std::size_t a = rest.find(L"    ");
      if (a == std::wstring::npos) continue;
      const std::wstring name = rest.substr(0, a);
      const std::wstring afterName = rest.substr(a + 4);
      const std::size_t b = afterName.find(L"    ");
      const std::wstring type = b == std::wstring::npos ? afterName : afterName.substr(0, b);
      const std::wstring data = b == std::wstring::npos ? L"" : afterName.substr(b + 4);
      tree[current][name] = {type, data};
    }
  }
  return tree;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void CreateKeyWithValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& data) {
  HKEY key = nullptr;
  REQUIRE_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
             static_cast<LONG>(ERROR_SUCCESS));
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

// The approval value's type and size in bytes, through the registry API.
bool ApprovalValue(DWORD& type, std::wstring& data, DWORD& bytes, const std::wstring& clsid = kClsid) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  wchar_t buffer[128] = {};
  bytes = sizeof buffer;
  const LONG result = RegQueryValueExW(key, clsid.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  data = buffer;
  return result == ERROR_SUCCESS;
}

Tree ExpectedClassTree() {
  const std::wstring classKey = Upper(kClassKey);
  Tree t;
  t[classKey] = {{L"(Default)", {L"REG_SZ", L"Veltrano Shell Extension"}}};
  t[classKey + L"\\INPROCSERVER32"] = {{L"(Default)", {L"REG_SZ", wintest::DllPath()}},
                                       {L"ThreadingModel", {L"REG_SZ", L"Apartment"}}};
  t[classKey + L"\\SHELLEX"] = {};
  t[classKey + L"\\SHELLEX\\CONTEXTMENUHANDLERS"] = {};
  t[classKey + L"\\SHELLEX\\CONTEXTMENUHANDLERS\\VOZADUVEREZUD"] = {{L"(Default)", {L"REG_SZ", kClsid}}};
  return t;
}

// The module path is compared without regard to case, as the file system does.
void CheckTreeEquals(Tree actual, Tree expected) {
  for (auto* tree : {&actual, &expected})
    for (auto& [key, values] : *tree)
      for (auto& [name, value] : values)
        if (key.size() > 15 && key.compare(key.size() - 15, 15, L"\\INPROCSERVER32") == 0 && name == L"(Default)")
          value.second = Upper(value.second);
  CHECK_EQ(actual.size(), expected.size());
  for (const auto& [key, values] : expected) {
    auto found = actual.find(key);
    if (found == actual.end()) {
      wintest::Fail(__FILE__, __LINE__, "missing key " + wintest::Narrow(key));
      continue;
    }
    CHECK_EQ(found->second.size(), values.size());
    for (const auto& [name, value] : values) {
      auto v = found->second.find(name);
      if (v == found->second.end()) {
        wintest::Fail(__FILE__, __LINE__, "missing value " + wintest::Narrow(key) + " : " + wintest::Narrow(name));
        continue;
      }
      CHECK_EQ(v->second.first, value.first);
      CHECK_EQ(v->second.second, value.second);
    }
  }
  for (const auto& [key, values] : actual)
    if (!expected.count(key)) wintest::Fail(__FILE__, __LINE__, "unexpected key " + wintest::Narrow(key));
}

void CheckRegistered() {
  bool ok = false;
  CheckTreeEquals(Query(kClassKey, ok), ExpectedClassTree());
  CHECK(ok);
  Tree handler = Query(kHandlersKey + L"\\VozaduvEreZud", ok);
  CHECK(ok);
  Tree expectedHandler;
  expectedHandler[Upper(kHandlersKey + L"\\VozaduvEreZud")] = {{L"(Default)", {L"REG_SZ", kClsid}}};
  CheckTreeEquals(handler, expectedHandler);

  DWORD type = 0, bytes = 0;
  std::wstring data;
  REQUIRE(ApprovalValue(type, data, bytes));
  CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
  CHECK_EQ(data, std::wstring(L"Veltrano Shell Extension"));
  CHECK_EQ(bytes, static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));  // with its terminating zero
}

void CheckUnregistered() {
  bool ok = true;
  Query(kClassKey, ok);
  CHECK(!ok);
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid));
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud"));
  Query(kHandlersKey + L"\\VozaduvEreZud", ok);
  CHECK(!ok);
  // The kept keys stay.
  CHECK(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  CHECK(KeyExists(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers"));
  Query(kHandlersKey, ok);
  CHECK(ok);
  DWORD type = 0, bytes = 0;
  std::wstring data;
  CHECK(!ApprovalValue(type, data, bytes));
}

using ExportFn = HRESULT(__stdcall*)();

HRESULT CallExport(const std::wstring& dllPath, const char* name) {
  HMODULE dll = LoadLibraryW(dllPath.c_str());
  if (!dll) return HRESULT_FROM_WIN32(GetLastError());
  auto fn = reinterpret_cast<ExportFn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  const HRESULT hr = fn ? fn() : E_FAIL;
  FreeLibrary(dll);
  return hr;
}

}  // namespace

TEST_CASE("regsvr32 writes exactly the registry content") {
  REQUIRE_EQ(Regsvr32(true), 0);
  // Leftovers below the replaced keys must go; a neighbour handler below the
  // kept keys must stay.
  CreateKeyWithValue(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\Leftover", L"stale", L"1");
  CreateKeyWithValue(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid, L"StaleValue", L"1");
  CreateKeyWithValue(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud\\Old",
                     nullptr, L"x");
  CreateKeyWithValue(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud",
                     L"Extra", L"x");
  CreateKeyWithValue(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\NeighbourHandler",
                     nullptr, L"{00000000-0000-0000-0000-000000000001}");

  REQUIRE_EQ(Regsvr32(false), 0);
  CheckRegistered();
  CHECK(KeyExists(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\NeighbourHandler"));
}

TEST_CASE("registering twice gives the same state") {
  REQUIRE_EQ(Regsvr32(false), 0);
  bool ok = false;
  const Tree classOnce = Query(kClassKey, ok);
  const Tree handlersOnce = Query(kHandlersKey, ok);
  REQUIRE_EQ(Regsvr32(false), 0);
  const Tree classTwice = Query(kClassKey, ok);
  const Tree handlersTwice = Query(kHandlersKey, ok);
  CHECK(classOnce == classTwice);
  CHECK(handlersOnce == handlersTwice);
  CheckRegistered();
}

TEST_CASE("regsvr32 /u removes the class key, both handler entries and the approval") {
  REQUIRE_EQ(Regsvr32(false), 0);
  REQUIRE_EQ(Regsvr32(true), 0);
  CheckUnregistered();
  CHECK(KeyExists(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\NeighbourHandler"));
  CHECK(KeyExists(HKEY_LOCAL_MACHINE, kApprovedPath));
  // Nothing left to remove is no failure.
  CHECK_EQ(Regsvr32(true), 0);
  CheckUnregistered();
  // Registered again after removal: the full content comes back.
  REQUIRE_EQ(Regsvr32(false), 0);
  CheckRegistered();
  REQUIRE_EQ(Regsvr32(true), 0);
}

TEST_CASE("COM finds the registered server and loses it after unregistration") {
  REQUIRE_EQ(Regsvr32(false), 0);
  REQUIRE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  CLSID clsid{};
  REQUIRE_EQ(CLSIDFromString(kClsid.c_str(), &clsid), S_OK);
  {
    IContextMenu* menu = nullptr;
    CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, reinterpret_cast<void**>(&menu)),
             S_OK);
    if (menu) {
      // The object lives in this apartment, in the registered file.
      HMODULE loaded = GetModuleHandleW(wintest::DllPath().c_str());
      CHECK(loaded != nullptr);
      HMENU popup = CreatePopupMenu();
      CHECK_EQ(menu->QueryContextMenu(popup, 0, 1, 10, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
      CHECK_EQ(GetMenuItemCount(popup), 1);
      DestroyMenu(popup);
      menu->Release();
    }
  }
  REQUIRE_EQ(Regsvr32(true), 0);
  IUnknown* none = nullptr;
  CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&none)),
           REGDB_E_CLASSNOTREG);
  CHECK(none == nullptr);
  CoUninitialize();
}

TEST_CASE("no rights on the approval key: E_ACCESSDENIED and no script keys") {
  REQUIRE_EQ(Regsvr32(true), 0);
  // Keep what the prefix has below Shell Extensions\Approved, then make the
  // parent volatile: a persistent Approved key can no longer be created
  // below it.
  std::vector<std::pair<std::wstring, std::wstring>> kept;
  {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[1024];
        DWORD nameSize = 256, dataSize = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
            ERROR_SUCCESS)
          break;
        if (type == REG_SZ) kept.emplace_back(name, data);
      }
      RegCloseKey(key);
    }
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kShellExtensionsPath.c_str());
  HKEY volatileKey = nullptr;
  REQUIRE_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kShellExtensionsPath.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
             static_cast<LONG>(ERROR_SUCCESS));
  RegCloseKey(volatileKey);

  const HRESULT hr = CallExport(wintest::DllPath(), "DllRegisterServer");
  CHECK_EQ(hr, E_ACCESSDENIED);
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid));
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud"));
  // Unregistration does not fail because of the approval key.
  CHECK_EQ(CallExport(wintest::DllPath(), "DllUnregisterServer"), S_OK);

  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kShellExtensionsPath.c_str());
  for (const auto& [name, data] : kept) CreateKeyWithValue(HKEY_LOCAL_MACHINE, kApprovedPath, name.c_str(), data);
  CreateKeyWithValue(HKEY_LOCAL_MACHINE, kApprovedPath, L"VeltranoProbe", L"x");
  CHECK(KeyExists(HKEY_LOCAL_MACHINE, kApprovedPath));
  {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedPath.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, L"VeltranoProbe");
      RegCloseKey(key);
    }
  }
  // And with the approval key writable again, registration works.
  CHECK_EQ(CallExport(wintest::DllPath(), "DllRegisterServer"), S_OK);
  CheckRegistered();
  CHECK_EQ(CallExport(wintest::DllPath(), "DllUnregisterServer"), S_OK);
  CheckUnregistered();
}

TEST_CASE("a module path of 260 characters or more fails with 0x8007007A") {
  // A copy of the DLL in a folder deep enough for a 270-character path.
  std::wstring folder = TempFolder() + L"veltrano_long";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring fileName = L"\\Veltrano.dll";
  while (folder.size() + fileName.size() < 270) {
    folder += L"\\" + std::wstring(std::min<std::size_t>(60, 270 - folder.size() - fileName.size()), L'd');
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  const std::wstring longPath = folder + fileName;
  REQUIRE(longPath.size() >= 260);
  REQUIRE(CopyFileW(wintest::DllPath().c_str(), longPath.c_str(), FALSE));
  const HRESULT hr = CallExport(longPath, "DllRegisterServer");
  CHECK_EQ(hr, static_cast<HRESULT>(0x8007007A));
  CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid));
  CHECK_EQ(CallExport(longPath, "DllUnregisterServer"), S_OK);
  DeleteFileW(longPath.c_str());
}

// What version 1.50 wrote under its class id, with `server` as the
// in-process server (none: no InprocServer32 key).
void WriteLegacyRegistration(const std::wstring& server, DWORD serverType) {
  const std::wstring classKey = L"CLSID\\" + kLegacyClsid;
  CreateKeyWithValue(HKEY_CLASSES_ROOT, classKey, nullptr, L"Veltrano Shell Extension");
  if (!server.empty()) {
    HKEY key = nullptr;
    REQUIRE_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (classKey + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr),
               static_cast<LONG>(ERROR_SUCCESS));
    RegSetValueExW(key, nullptr, 0, serverType, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Apartment"), 20);
    RegCloseKey(key);
  }
  CreateKeyWithValue(HKEY_CLASSES_ROOT, classKey + L"\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud", nullptr,
                     kLegacyClsid);
  CreateKeyWithValue(HKEY_CLASSES_ROOT, L"AllFilesystemObjects\\ShellEx\\ContextMenuHandlers\\VozaduvEreZud", nullptr,
                     kLegacyClsid);
  CreateKeyWithValue(HKEY_LOCAL_MACHINE, kApprovedPath, kLegacyClsid.c_str(), L"Veltrano Shell Extension");
}

TEST_CASE("version 1.50's registration goes only where it names this DLL") {
  // A copy of the DLL under another name and a file of the DLL's own name in
  // another folder: neither is the registered module.
  const std::wstring elsewhere = TempFolder() + L"veltrano_elsewhere";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  const std::wstring sameName = elsewhere + L"\\Veltrano.dll";
  REQUIRE(CopyFileW(wintest::DllPath().c_str(), sameName.c_str(), FALSE));
  // The DLL's folder through an environment variable, as REG_EXPAND_SZ.
  const std::wstring dll = wintest::DllPath();
  const std::wstring folder = dll.substr(0, dll.find_last_of(L'\\'));
  SetEnvironmentVariableW(L"VELTRANO_TEST_DLL_FOLDER", folder.c_str());
  struct Case {
    const char* what;
    std::wstring server;  // empty: no InprocServer32 key
    DWORD type;
    bool ours;
  };
  const Case cases[] = {
      {"this DLL", dll, REG_SZ, true},
      {"this DLL, other case", Upper(dll), REG_SZ, true},
      {"this DLL through a variable", L"%VELTRANO_TEST_DLL_FOLDER%" + dll.substr(folder.size()), REG_EXPAND_SZ, true},
      {"a file of the same name elsewhere", sameName, REG_SZ, false},
      {"a file that does not exist", folder + L"\\Missing.dll", REG_SZ, false},
      {"no server key", L"", REG_SZ, false},
  };
  for (const bool unregister : {false, true}) {
    for (const Case& c : cases) {
      const std::string label = std::string(c.what) + (unregister ? " (regsvr32 /u)" : " (regsvr32)");
      RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + kLegacyClsid).c_str());
      WriteLegacyRegistration(c.server, c.type);
      if (Regsvr32(unregister) != 0) wintest::Fail(__FILE__, __LINE__, label + ": regsvr32 failed");
      const bool classLeft = KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kLegacyClsid);
      DWORD type = 0, bytes = 0;
      std::wstring data;
      const bool approvalLeft = ApprovalValue(type, data, bytes, kLegacyClsid);
      if (classLeft == c.ours) wintest::Fail(__FILE__, __LINE__, label + ": class key " + (classLeft ? "left" : "gone"));
      if (approvalLeft == c.ours)
        wintest::Fail(__FILE__, __LINE__, label + ": approval value " + (approvalLeft ? "left" : "gone"));
      // The handler entry has our handler's name: registration points it at
      // the new class, unregistration removes it, whoever it named before.
      if (unregister) {
        CheckUnregistered();
      } else {
        CheckRegistered();
      }
    }
  }
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + kLegacyClsid).c_str());
  HKEY approval = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedPath.c_str(), 0, KEY_SET_VALUE, &approval) == ERROR_SUCCESS) {
    RegDeleteValueW(approval, kLegacyClsid.c_str());
    RegCloseKey(approval);
  }
  DeleteFileW(sameName.c_str());
  RemoveDirectoryW(elsewhere.c_str());
  REQUIRE_EQ(Regsvr32(true), 0);
}

TEST_CASE("the registry script language: what registration reads and what it refuses") {
  using veltrano::shell::ParseRegistryScript;
  using veltrano::shell::ScriptKey;
  using veltrano::shell::ScriptRoot;
  std::vector<ScriptRoot> roots;
  REQUIRE(ParseRegistryScript(L"HKCR { NoRemove A { ForceRemove B = s 'it''s %MODULE% at 100%%' { val V = s '' } C } }"
                              L" HKLM { D = s '%MODULE_RAW%' }",
                              L"C:\\x.dll", roots));
  REQUIRE_EQ(roots.size(), std::size_t{2});
  CHECK_EQ(roots[0].root, std::wstring(L"HKCR"));
  REQUIRE_EQ(roots[0].keys.size(), std::size_t{1});
  const ScriptKey& a = roots[0].keys[0];
  CHECK(a.removal == ScriptKey::Removal::kNoRemove);
  REQUIRE_EQ(a.children.size(), std::size_t{2});
  const ScriptKey& b = a.children[0];
  CHECK(b.removal == ScriptKey::Removal::kForceRemove);
  REQUIRE_EQ(b.values.size(), std::size_t{2});
  CHECK_EQ(b.values[0].name, std::wstring());
  CHECK_EQ(b.values[0].text, std::wstring(L"it's C:\\x.dll at 100%"));
  CHECK_EQ(b.values[1].name, std::wstring(L"V"));
  CHECK_EQ(b.values[1].text, std::wstring());
  CHECK(a.children[1].name == L"C" && a.children[1].removal == ScriptKey::Removal::kRemove);
  CHECK_EQ(roots[1].keys[0].values[0].text, std::wstring(L"C:\\x.dll"));

  const wchar_t* refused[] = {
      L"HKCR { A = s 'open }",            // unterminated text
      L"HKCR { A = s '%OTHER%' }",        // a variable registration does not know
      L"HKCR { A = d '1' }",              // a value type other than text
      L"HKCR { A { B }",                  // a brace left open
      L"HKXX { A }",                      // an unknown root
      L"HKCR { val V = s 'x' }",          // a value outside any key
      L"HKCR { ForceRemove }",            // a flag without its key
  };
  for (const wchar_t* script : refused) {
    std::vector<ScriptRoot> out;
    if (ParseRegistryScript(script, L"m", out)) wintest::Fail(__FILE__, __LINE__, "accepted: " + wintest::Narrow(script));
  }
}

WINTEST_MAIN

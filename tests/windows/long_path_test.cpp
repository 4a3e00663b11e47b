// Paths past MAX_PATH on Windows. Wine itself has no MAX_PATH limit, so the
// job test puts one back: the file calls this program imports from the
// system are replaced by ones that refuse an ordinary path as long as
// Windows does without long-path support (a path of MAX_PATH characters or
// more; 248 or more for a new folder), and let the `\\?\` form through.
#include "tests/windows/wintest.h"

#include <shlwapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "job/extraction_job.h"
#include "platform/long_path.h"
#include "support/flat_jpeg.h"
#include "support/raw_builder.h"
#include "tests/windows/dialog_driver.h"

namespace {

// ---------------------------------------------------------------------------
// The legacy path limit, put back under Wine

// Counts of calls the limit refused, and of long calls let through in the
// extended-length form: the test asserts both, so that it cannot pass
// without having met a long path.
int g_refused = 0;
int g_longAllowed = 0;

bool Refused(LPCWSTR path, std::size_t limit) {
  if (path == nullptr) return false;
  const std::size_t length = std::wcslen(path);
  if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) {
    if (length >= limit) ++g_longAllowed;
    return false;
  }
  if (length < limit) return false;
  ++g_refused;
  SetLastError(ERROR_PATH_NOT_FOUND);
  return true;
}

constexpr std::size_t kFileLimit = MAX_PATH;
constexpr std::size_t kFolderLimit = MAX_PATH - 12;

decltype(&CreateFileW) g_CreateFileW;
decltype(&CreateDirectoryW) g_CreateDirectoryW;
decltype(&GetFileAttributesW) g_GetFileAttributesW;
decltype(&GetFileAttributesExW) g_GetFileAttributesExW;
decltype(&SetFileAttributesW) g_SetFileAttributesW;
decltype(&DeleteFileW) g_DeleteFileW;
decltype(&MoveFileExW) g_MoveFileExW;
decltype(&FindFirstFileExW) g_FindFirstFileExW;

HANDLE WINAPI LimitedCreateFileW(LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t) {
  return Refused(p, kFileLimit) ? INVALID_HANDLE_VALUE : g_CreateFileW(p, a, s, sa, c, f, t);
}
BOOL WINAPI LimitedCreateDirectoryW(LPCWSTR p, LPSECURITY_ATTRIBUTES sa) {
  return Refused(p, kFolderLimit) ? FALSE : g_CreateDirectoryW(p, sa);
}
DWORD WINAPI LimitedGetFileAttributesW(LPCWSTR p) {
  return Refused(p, kFileLimit) ? INVALID_FILE_ATTRIBUTES : g_GetFileAttributesW(p);
}
BOOL WINAPI LimitedGetFileAttributesExW(LPCWSTR p, GET_FILEEX_INFO_LEVELS l, LPVOID d) {
  return Refused(p, kFileLimit) ? FALSE : g_GetFileAttributesExW(p, l, d);
}
BOOL WINAPI LimitedSetFileAttributesW(LPCWSTR p, DWORD a) {
  return Refused(p, kFileLimit) ? FALSE : g_SetFileAttributesW(p, a);
}
BOOL WINAPI LimitedDeleteFileW(LPCWSTR p) { return Refused(p, kFileLimit) ? FALSE : g_DeleteFileW(p); }
BOOL WINAPI LimitedMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD f) {
  return Refused(from, kFileLimit) || Refused(to, kFileLimit) ? FALSE : g_MoveFileExW(from, to, f);
}
HANDLE WINAPI LimitedFindFirstFileExW(LPCWSTR p, FINDEX_INFO_LEVELS l, LPVOID d, FINDEX_SEARCH_OPS o, LPVOID s,
                                      DWORD f) {
  return Refused(p, kFileLimit) ? INVALID_HANDLE_VALUE : g_FindFirstFileExW(p, l, d, o, s, f);
}

// Replaces entries of this program's import address table while it lives
// and puts the originals back when it goes.
class ImportPatch {
 public:
  ImportPatch() {
    Patch("CreateFileW", &LimitedCreateFileW, g_CreateFileW);
    Patch("CreateDirectoryW", &LimitedCreateDirectoryW, g_CreateDirectoryW);
    Patch("GetFileAttributesW", &LimitedGetFileAttributesW, g_GetFileAttributesW);
    Patch("GetFileAttributesExW", &LimitedGetFileAttributesExW, g_GetFileAttributesExW);
    Patch("SetFileAttributesW", &LimitedSetFileAttributesW, g_SetFileAttributesW);
    Patch("DeleteFileW", &LimitedDeleteFileW, g_DeleteFileW);
    Patch("MoveFileExW", &LimitedMoveFileExW, g_MoveFileExW);
    Patch("FindFirstFileExW", &LimitedFindFirstFileExW, g_FindFirstFileExW);
  }
  ~ImportPatch() {
    for (const Saved& s : saved_) Write(s.slot, s.original);
  }
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  int patched() const { return static_cast<int>(saved_.size()); }

 private:
  struct Saved {
    ULONG_PTR* slot;
    ULONG_PTR original;
  };

  static void Write(ULONG_PTR* slot, ULONG_PTR value) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
  }

  template <typename Fn>
  void Patch(const char* name, Fn replacement, Fn& original) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name != 0; ++d) {
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
        auto* slot = reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
        original = reinterpret_cast<Fn>(*slot);
        saved_.push_back({slot, *slot});
        Write(slot, reinterpret_cast<ULONG_PTR>(replacement));
      }
    }
  }

  std::vector<Saved> saved_;
};

// ---------------------------------------------------------------------------
// Files by extended-length path (the test's own calls, made before or after
// the limit is in place)

std::wstring Long(const std::wstring& full) { return L"\\\\?\\" + full; }

bool ExistsLong(const std::wstring& full) { return GetFileAttributesW(Long(full).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(Long(folder + L"\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return names;
}

void RemoveTreeLong(const std::wstring& folder) {
  for (const std::wstring& name : NamesIn(folder)) {
    const std::wstring path = folder + L"\\" + name;
    if (GetFileAttributesW(Long(path).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
      RemoveTreeLong(path);
    else
      DeleteFileW(Long(path).c_str());
  }
  RemoveDirectoryW(Long(folder).c_str());
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return temp;  // ends with a backslash
}

// A folder whose full path is exactly `length` characters, made level by
// level in the extended-length form.
std::wstring DeepFolder(std::size_t length) {
  std::wstring folder = TempFolder() + L"vltr_long_" + std::to_wstring(GetCurrentProcessId());
  RemoveTreeLong(folder);
  CreateDirectoryW(Long(folder).c_str(), nullptr);
  while (folder.size() < length) {
    folder += L"\\" + std::wstring(std::min<std::size_t>(60, length - folder.size() - 1), L'd');
    CreateDirectoryW(Long(folder).c_str(), nullptr);
  }
  return folder;
}

std::vector<std::wstring> Temporaries(const std::wstring& folder) {
  std::vector<std::wstring> found;
  for (const std::wstring& name : NamesIn(folder))
    if (name.rfind(L".vltr-", 0) == 0) found.push_back(name);
  return found;
}

std::wstring FromHost(const char* hostPath) {
  std::wstring out = L"Z:";
  for (const char* c = hostPath; *c; ++c) out += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return out;
}

}  // namespace

TEST_CASE("the file-call form of a path: full, normalised, extended length") {
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  std::wstring cwd = current;
  if (!cwd.empty() && cwd.back() == L'\\') cwd.pop_back();
  const struct {
    std::wstring given, expected;
  } table[] = {
      {L"C:\\photos\\IMG_1.CR2", L"\\\\?\\C:\\photos\\IMG_1.CR2"},
      {L"C:/photos//shoot/./x/../IMG_1.CR2", L"\\\\?\\C:\\photos\\shoot\\IMG_1.CR2"},
      {L"C:\\photos\\out.", L"\\\\?\\C:\\photos\\out"},  // the system drops a trailing dot
      {L"\\\\server\\share\\IMG_1.CR2", L"\\\\?\\UNC\\server\\share\\IMG_1.CR2"},
      {L"\\\\?\\C:\\photos\\a\\..\\b", L"\\\\?\\C:\\photos\\a\\..\\b"},  // taken literally, never touched
      {L"\\\\.\\COM1", L"\\\\.\\COM1"},
      {L"shoot\\IMG_1.CR2", L"\\\\?\\" + cwd + L"\\shoot\\IMG_1.CR2"},
      {L"", L""},
  };
  for (const auto& row : table) CHECK_EQ(Win32FilePath(row.given), row.expected);
}

TEST_CASE("scaled copies in a folder of 240 characters, with the legacy path limit") {
  driver::GdiplusSession gdiplus;
  const std::wstring folder = DeepFolder(240);
  REQUIRE_EQ(folder.size(), std::size_t{240});
  raw_builder::RawSpec spec;
  spec.jpeg = flat_jpeg::mid_grey(1600, 1200);
  const std::wstring raw = folder + L"\\IMG_1.CR2";
  REQUIRE(driver::WriteFileBytes(Long(raw), raw_builder::build(spec)));

  JobOptions options;
  options.settings.makeSmallerCopies = 1;
  options.settings.maxWidth = options.settings.maxHeight = 800;
  options.settings.useSubfolders = true;
  options.settings.addSuffix = true;
  JobProgress progress;
  {
    ImportPatch limit;
    REQUIRE(limit.patched() > 0);
    // The limit is in place: an ordinary path past it is refused.
    CHECK(GetFileAttributesW((folder + L"\\" + std::wstring(30, L'x')).c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(g_refused > 0);
    g_refused = 0;
    RunExtraction(progress, {folder}, options);
  }
  const std::wstring native = folder + L"\\extracted_jpegs\\IMG_1_VLTR.jpg";
  const std::wstring scaled = folder + L"\\extracted_jpegs_800\\IMG_1_VLTR_800.jpg";
  CHECK(scaled.size() > MAX_PATH);
  CHECK_EQ(g_refused, 0);
  CHECK(g_longAllowed > 0);
  const JobCounters counters = progress.Snapshot();
  CHECK_EQ(counters.filesScanned, 1);
  CHECK_EQ(counters.newCount, 1);
  for (const FileFailure& f : progress.Failures())
    wintest::Fail(__FILE__, __LINE__, "failure " + std::to_string(static_cast<int>(f.reason)) + " for " +
                                          wintest::Narrow(f.outputPath));
  CHECK(ExistsLong(native));
  CHECK(ExistsLong(scaled));
  CHECK_EQ(progress.Outputs().size(), std::size_t{2});
  for (const std::wstring& where : {folder, folder + L"\\extracted_jpegs", folder + L"\\extracted_jpegs_800"})
    CHECK_EQ(Temporaries(where).size(), std::size_t{0});
  RemoveTreeLong(TempFolder() + L"vltr_long_" + std::to_wstring(GetCurrentProcessId()));
}

#ifdef VELTRANO_EXE_HOST_PATH
TEST_CASE("veltrano.exe declares itself long-path aware in its manifest") {
  const std::wstring exe = FromHost(VELTRANO_EXE_HOST_PATH);
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  REQUIRE(module != nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  std::string manifest;
  if (found) {
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
    if (text) manifest.assign(text, SizeofResource(module, found));
  }
  FreeLibrary(module);
  CHECK(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true"
                      "</longPathAware>") != std::string::npos);
}
#endif

WINTEST_MAIN

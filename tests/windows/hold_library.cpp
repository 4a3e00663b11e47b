// Holds a DLL loaded, as the file browser holds a shell extension, for the
// installer test:  hold_library.exe DLL MARKER
// Loads DLL, creates the file MARKER, waits until MARKER.stop appears (two
// minutes at most), unloads the DLL and creates MARKER.released. Exit code
// 1 when the DLL cannot be loaded.
#include <windows.h>

#include <string>

namespace {

void Touch(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 2;
  const std::wstring marker = argv[2];
  HMODULE dll = LoadLibraryW(argv[1]);
  if (dll == nullptr) return 1;
  Touch(marker);
  for (int i = 0; i < 1200 && GetFileAttributesW((marker + L".stop").c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(100);
  FreeLibrary(dll);
  Touch(marker + L".released");
  return 0;
}

#include <windows.h>

#include "platform/long_path.h"

std::wstring Win32FilePath(const std::wstring& path) {
  if (path.empty()) return path;
  // Already in extended-length or device form: the system takes it as is.
  if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
  std::wstring full(path.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);  // too small: length counts the terminating zero
  }
  return ExtendedLengthForm(full);
}

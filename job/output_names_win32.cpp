// File-system calls of the output naming on Windows.
#include <windows.h>

#include <cstdio>

#include "job/output_names.h"
#include "job/output_names_platform.h"

bool IsDirectoryPath(const NativePath& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const NativePath& path, std::error_code& error) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  const DWORD code = GetLastError();
  error = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
              ? std::make_error_code(std::errc::file_exists)
              : std::error_code(static_cast<int>(code), std::system_category());
  return false;
}

std::FILE* OpenFileWide(const NativePath& path, const char* mode) {
  // Only the two binary modes the job uses; anything else is refused.
  const bool read = mode != nullptr && mode[0] == 'r';
  const bool write = mode != nullptr && mode[0] == 'w';
  if (!read && !write) return nullptr;
  if (IsDirectoryPath(path)) return nullptr;
  return _wfopen(path.c_str(), read ? L"rbN" : L"wbN");  // N: not inherited by child processes
}

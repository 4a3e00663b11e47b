// File-system calls of the output naming on Windows.
#include <windows.h>

#include <share.h>
#include <stdio.h>

#include "job/output_names.h"
#include "job/output_names_platform.h"

bool IsDirectoryPath(const NativePath& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const NativePath& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

std::FILE* OpenFileWide(const NativePath& path, const char* mode) {
  const bool read = mode != nullptr && mode[0] == 'r';
  const bool write = mode != nullptr && mode[0] == 'w';
  if (!read && !write) return nullptr;
  // _SH_DENYNO: other openers of the same file are not refused.
  return _wfsopen(path.c_str(), read ? L"rb" : L"wb", _SH_DENYNO);
}

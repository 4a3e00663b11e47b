#include <windows.h>

#include "platform/folder_entries.h"
#include "platform/long_path.h"

std::vector<FolderEntry> ListFolderEntries(const NativePath& folder) {
  std::vector<FolderEntry> entries;
  std::wstring pattern = Win32FilePath(folder);
  if (pattern.empty()) return entries;
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return entries;
}

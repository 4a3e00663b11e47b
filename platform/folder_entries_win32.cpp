#include <windows.h>

#include "platform/folder_entries.h"
#include "platform/long_path.h"

std::vector<FolderEntry> ListFolderEntries(const NativePath& folder, std::error_code& error) {
  std::vector<FolderEntry> entries;
  error.clear();
  std::wstring pattern = Win32FilePath(folder);
  if (pattern.empty()) {
    error = std::error_code(ERROR_PATH_NOT_FOUND, std::system_category());
    return entries;
  }
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    // No entry at all (a drive's empty root) is an empty folder.
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) error = std::error_code(static_cast<int>(code), std::system_category());
    return entries;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const DWORD a = data.dwFileAttributes;
    const bool directory = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries.push_back({name, directory, (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                       !directory && (a & FILE_ATTRIBUTE_DEVICE) == 0});
  } while (FindNextFileW(h, &data));
  const DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES) error = std::error_code(static_cast<int>(code), std::system_category());
  FindClose(h);
  return entries;
}

#include <filesystem>
#include <system_error>

#include "platform/folder_entries.h"

std::vector<FolderEntry> ListFolderEntries(const NativePath& folder) {
  namespace fs = std::filesystem;
  std::vector<FolderEntry> entries;
  std::error_code ec;
  fs::directory_iterator it(fs::path(folder), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code e1, e2;
    entries.push_back({it->path().filename().native(), it->is_directory(e1), it->is_symlink(e2)});
  }
  return entries;
}

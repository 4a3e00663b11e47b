#include <filesystem>

#include "platform/folder_entries.h"

std::vector<FolderEntry> ListFolderEntries(const NativePath& folder, std::error_code& error) {
  namespace fs = std::filesystem;
  std::vector<FolderEntry> entries;
  error.clear();
  fs::directory_iterator it(fs::path(folder), error), end;
  for (; !error && it != end; it.increment(error)) {
    std::error_code e1, e2, e3;
    entries.push_back({it->path().filename().native(), it->is_directory(e1), it->is_symlink(e2),
                       it->is_regular_file(e3)});
  }
  return entries;
}

#include "platform/path_list.h"

std::vector<PathListEntry> path_list_entries(std::wstring_view list) {
  std::vector<PathListEntry> entries;
  if (list.empty()) return entries;
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i <= list.size(); ++i) {
    if (i < list.size() && list[i] == L'"') quoted = !quoted;
    if (i == list.size() || (list[i] == L';' && !quoted)) {
      entries.push_back({start, i - start});
      start = i + 1;
    }
  }
  return entries;
}

std::wstring path_list_folder(std::wstring_view entry) {
  std::wstring folder;
  for (wchar_t c : entry)
    if (c != L'"') folder += c;
  const auto first = folder.find_first_not_of(L' ');
  if (first == std::wstring::npos) return {};
  folder = folder.substr(first, folder.find_last_not_of(L' ') - first + 1);
  const bool drive_root = folder.size() == 3 && folder[1] == L':';
  while (folder.size() > 1 && folder.back() == L'\\' && !drive_root) folder.pop_back();
  return folder;
}

std::wstring path_list_append(std::wstring_view list, std::wstring_view entry) {
  std::wstring result(list);
  if (!result.empty() && result.back() != L';') result += L';';
  if (entry.find(L';') != std::wstring_view::npos) {
    result += L'"';
    result += entry;
    result += L'"';
  } else {
    result += entry;
  }
  return result;
}

std::wstring path_list_erase(std::wstring_view list, PathListEntry entry) {
  std::wstring result(list);
  const std::size_t end = entry.offset + entry.length;
  if (end < result.size()) {
    result.erase(entry.offset, entry.length + 1);  // the entry and the ';' after it
  } else if (entry.offset > 0) {
    result.erase(entry.offset - 1, entry.length + 1);  // the ';' before the last entry, and it
  } else {
    result.clear();
  }
  return result;
}

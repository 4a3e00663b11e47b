// Entries of a Windows PATH-style list ("C:\a;%SystemRoot%;\"D:\x;y\""):
// where each entry lies in the text, and the text with one entry added or
// taken out. Portable, so that the rules are tested everywhere; the
// registry side is machine_path_win32.cpp.
//
// Everything outside the entry added or removed is kept as it was, code
// unit for code unit: empty entries, spaces, quotes and variables included.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// One entry: its place in the list text, separators excluded. A ';' inside
// double quotes belongs to the entry.
struct PathListEntry {
  std::size_t offset = 0;
  std::size_t length = 0;
};

// The entries in order; an empty list has none, "a;" has "a" and an empty
// one after it.
std::vector<PathListEntry> path_list_entries(std::wstring_view list);

// The entry's text as written (quotes and all).
inline std::wstring_view path_list_text(std::wstring_view list, PathListEntry entry) {
  return list.substr(entry.offset, entry.length);
}

// The entry's folder for comparing: quotes dropped, surrounding spaces
// trimmed, trailing backslashes dropped except after a drive ("C:\").
// Variables are left to the caller, who can expand them.
std::wstring path_list_folder(std::wstring_view entry);

// `list` with `entry` appended as a whole entry after one ';' (none when the
// list is empty or already ends in one). An entry holding a ';' is quoted.
std::wstring path_list_append(std::wstring_view list, std::wstring_view entry);

// `list` without the given entry and one separator next to it (the one
// after it, or, for the last entry, the one before it).
std::wstring path_list_erase(std::wstring_view list, PathListEntry entry);

#include "shell/drop_files.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace veltrano::shell {
namespace {

// The header's fields, read bytewise: the block need not be aligned for it.
struct Header {
  DWORD pathsAt = 0;  // DROPFILES::pFiles, from the block's start
  BOOL wide = FALSE;  // DROPFILES::fWide
};

void ReadWide(const unsigned char* at, std::size_t bytes, std::vector<std::wstring>& paths) {
  const std::size_t chars = bytes / sizeof(wchar_t);
  for (std::size_t i = 0, start = 0; i <= chars; ++i) {
    wchar_t c = L'\0';
    if (i < chars) std::memcpy(&c, at + i * sizeof(wchar_t), sizeof c);
    if (c != L'\0') continue;
    if (i == start) return;  // the empty entry that ends the list
    paths.emplace_back(i - start, L'\0');
    std::memcpy(paths.back().data(), at + start * sizeof(wchar_t), (i - start) * sizeof(wchar_t));
    start = i + 1;
  }
}

void ReadAnsi(const unsigned char* at, std::size_t bytes, unsigned codePage, std::vector<std::wstring>& paths) {
  for (std::size_t i = 0, start = 0; i <= bytes; ++i) {
    if (i < bytes && at[i] != 0) continue;
    if (i == start) return;
    const char* text = reinterpret_cast<const char*>(at + start);
    const int length = static_cast<int>(i - start);
    const int wide = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (wide > 0) {
      std::wstring path(static_cast<std::size_t>(wide), L'\0');
      MultiByteToWideChar(codePage, 0, text, length, path.data(), wide);
      paths.push_back(std::move(path));
    }
    start = i + 1;
  }
}

}  // namespace

bool ReadDropFiles(const void* block, std::size_t size, unsigned codePage, std::vector<std::wstring>& paths) {
  if (!block || size < sizeof(DROPFILES)) return false;
  const auto* bytes = static_cast<const unsigned char*>(block);
  Header header;
  std::memcpy(&header.pathsAt, bytes + offsetof(DROPFILES, pFiles), sizeof header.pathsAt);
  std::memcpy(&header.wide, bytes + offsetof(DROPFILES, fWide), sizeof header.wide);
  if (header.pathsAt < sizeof(DROPFILES) || header.pathsAt > size) return false;
  const unsigned char* list = bytes + header.pathsAt;
  const std::size_t listBytes = size - header.pathsAt;
  if (header.wide)
    ReadWide(list, listBytes, paths);
  else
    ReadAnsi(list, listBytes, codePage, paths);
  return true;
}

}  // namespace veltrano::shell

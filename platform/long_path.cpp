#include "platform/long_path.h"

namespace {

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// True when every segment after the first `skip` characters is a real name:
// not empty (a doubled separator; one separator at the end is a folder's and
// fine), not `.` or `..`, not ending in a dot or a space; and no `/` anywhere.
bool SegmentsNormalised(const std::wstring& path, std::size_t skip) {
  if (path.find(L'/') != std::wstring::npos) return false;
  std::size_t start = skip;
  while (start <= path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring segment = path.substr(start, end - start);
    if (segment.empty() && end == path.size() && start > skip) return true;
    if (segment.empty() || segment == L"." || segment == L".." || segment.back() == L'.' || segment.back() == L' ')
      return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::wstring ExtendedLengthForm(const std::wstring& full_path) {
  const std::wstring& p = full_path;
  // Drive path: "C:\" and at least one name after it (a bare root is short).
  if (p.size() > 3 && IsLetter(p[0]) && p[1] == L':' && p[2] == L'\\')
    return SegmentsNormalised(p, 3) ? L"\\\\?\\" + p : p;
  // UNC path: "\\server\share\..." (not "\\?\" or "\\.\", device paths).
  if (p.size() > 2 && p[0] == L'\\' && p[1] == L'\\' && p[2] != L'?' && p[2] != L'.')
    return SegmentsNormalised(p, 2) ? L"\\\\?\\UNC\\" + p.substr(2) : p;
  return p;
}

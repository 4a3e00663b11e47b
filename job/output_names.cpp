#include "job/output_names.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "job/output_names_platform.h"
#include "platform/native_file.h"

namespace {

NativePath Decimal(std::int32_t value) {
  // Same text as "%d": optional minus sign, no padding, no separators.
  return NativeFromAscii(std::to_string(value).c_str());
}

}  // namespace

NativePath NativeFromAscii(const char* ascii) {
  NativePath out;
  for (; *ascii != '\0'; ++ascii) out.push_back(static_cast<NativeChar>(*ascii));
  return out;
}

void ReplaceAll(NativePath& text, const NativePath& placeholder, const NativePath& replacement) {
  if (placeholder.empty()) return;
  std::size_t pos = 0;
  while ((pos = text.find(placeholder, pos)) != NativePath::npos) {
    text.replace(pos, placeholder.size(), replacement);
    pos += replacement.size();
  }
}

bool GetFolderPart(const NativePath& path, NativePath& folder) {
  NativePath trimmed = path;
  if (!trimmed.empty() && trimmed.back() == kPathSeparator) trimmed.pop_back();
  std::size_t last = trimmed.rfind(kPathSeparator);
  if (last == NativePath::npos) return false;
  folder = trimmed.substr(0, last + 1);
  return true;
}

NativePath GetNamePart(const NativePath& path) {
  std::size_t last = path.rfind(kPathSeparator);
  return last == NativePath::npos ? path : path.substr(last + 1);
}

bool EnsureFolder(const NativePath& base, const NativePath& name, NativePath& folder, std::string* why,
                  bool* made) {
  if (made) *made = false;
  folder = JoinPath(base, name);
  if (IsDirectoryPath(folder)) return true;
  std::error_code error;
  if (MakeDirectory(folder, error)) {
    if (made) *made = true;
    return true;
  }
  if (IsDirectoryPath(folder)) return true;
  if (why) *why = error == std::errc::file_exists ? "a file of that name is in the way" : error.message();
  return false;
}

bool RemoveFolderIfEmpty(const NativePath& folder) { return RemoveEmptyDirectory(folder); }

bool CouldEnsureFolder(const NativePath& base, const NativePath& name, NativePath& folder, std::string* why) {
  folder = JoinPath(base, name);
  NativePath existing = folder;
  // Up to the nearest path that exists: it must be a folder that takes entries.
  while (!NativePathExists(existing)) {
    NativePath parent;
    if (!GetFolderPart(existing, parent)) break;
    if (parent.size() > 1 && parent.back() == kPathSeparator) parent.pop_back();
    if (parent == existing) break;
    existing = parent;
  }
  if (!IsDirectoryPath(existing)) {
    if (why) *why = NativePathExists(existing) ? "a file of that name is in the way" : "no folder to make it in";
    return false;
  }
  std::error_code error;
  if (CanWriteInFolder(existing, error)) return true;
  if (why) *why = error.message();
  return false;
}

bool OutputExists(const NativePath& folder, const NativePath& file_name, NativePath& output_path) {
  output_path = JoinPath(folder, file_name);
  std::FILE* f = OpenFileWide(output_path, "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

NativePath ExpandFolderPattern(NativePath pattern, std::int32_t width, std::int32_t height) {
  ReplaceAll(pattern, NativeFromAscii("%W"), Decimal(width));
  ReplaceAll(pattern, NativeFromAscii("%H"), Decimal(height));
  return pattern;
}

NativePath ExpandFilePattern(NativePath pattern, const NativePath& raw_name, std::int32_t width,
                             std::int32_t height) {
  std::size_t dot = raw_name.find(static_cast<NativeChar>('.'));
  NativePath name = dot == NativePath::npos ? raw_name : raw_name.substr(0, dot);
  NativePath extension = dot == NativePath::npos ? NativePath() : raw_name.substr(dot + 1);
  ReplaceAll(pattern, NativeFromAscii("%N"), name);
  ReplaceAll(pattern, NativeFromAscii("%E"), extension);
  ReplaceAll(pattern, NativeFromAscii("%W"), Decimal(width));
  ReplaceAll(pattern, NativeFromAscii("%H"), Decimal(height));
  return pattern;
}

namespace {

NativePath FoldAsciiCase(NativePath text) {
  for (NativeChar& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<NativeChar>(c - 'A' + 'a');
  return text;
}

// The folder without a trailing separator and "." or ".." components.
std::filesystem::path NormalFolder(const NativePath& folder) {
  std::filesystem::path p = std::filesystem::path(folder).lexically_normal();
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

}  // namespace

std::vector<NativePath> MirrorFolderNames(const std::vector<NativePath>& selection, const std::vector<bool>& isFolder) {
  std::vector<NativePath> names(selection.size());
  if (selection.size() < 2) return names;
  std::map<NativePath, NativePath> byFolder;  // normal folder path -> its name
  std::set<NativePath> taken;                 // case-folded names given out
  for (std::size_t i = 0; i < selection.size(); ++i) {
    if (!isFolder[i]) continue;
    const std::filesystem::path folder = NormalFolder(selection[i]);
    auto known = byFolder.find(folder.native());
    if (known != byFolder.end()) {
      names[i] = known->second;
      continue;
    }
    NativePath base = folder.filename().native();
    // A file-system root, or a relative path that climbs, has no name of its own.
    if (base.empty() || base == NativeFromAscii(".") || base == NativeFromAscii("..")) base = NativeFromAscii("root");
    NativePath name = base;
    for (int n = 2; !taken.insert(FoldAsciiCase(name)).second; ++n) name = base + NativeFromAscii("_") + Decimal(n);
    names[i] = byFolder[folder.native()] = name;
  }
  return names;
}

bool EnsureFolderChain(const NativePath& root, const NativePath& relative, NativePath& folder, std::string* why) {
  if (!EnsureFolder(NativePath(), root, folder, why)) return false;
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find(kPathSeparator, start);
    if (end == NativePath::npos) end = relative.size();
    if (end > start && !EnsureFolder(NativePath(folder), relative.substr(start, end - start), folder, why))
      return false;
    start = end + 1;
  }
  return true;
}

#include "job/output_names.h"

#include <string>

#include "job/output_names_platform.h"

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

bool EnsureFolder(const NativePath& base, const NativePath& name, NativePath& folder, std::string* why) {
  folder = JoinPath(base, name);
  if (IsDirectoryPath(folder)) return true;
  std::error_code error;
  if (MakeDirectory(folder, error) || IsDirectoryPath(folder)) return true;
  if (why) *why = error == std::errc::file_exists ? "a file of that name is in the way" : error.message();
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

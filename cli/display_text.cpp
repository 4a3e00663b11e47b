#include "cli/display_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at text[i] (no overlongs, no
// surrogates, at most U+10FFFF); 0 when it is not one.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(i);
  std::size_t n = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3
                              : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  if (n == 3 && b == 0xE0 && byte(i + 1) < 0xA0) return 0;   // overlong
  if (n == 3 && b == 0xED && byte(i + 1) >= 0xA0) return 0;  // surrogate
  if (n == 4 && b == 0xF0 && byte(i + 1) < 0x90) return 0;   // overlong
  if (n == 4 && b == 0xF4 && byte(i + 1) >= 0x90) return 0;  // above U+10FFFF
  return n;
}

void AppendHexByte(std::string& out, unsigned value) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02x", value & 0xFFu);
  out += hex;
}

}  // namespace

std::string DisplayText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    std::size_t n = Utf8SequenceAt(text, i);
    if (n == 0 || b < 0x20 || b == 0x7F) {
      out += "\\x";
      AppendHexByte(out, b);
      ++i;
      continue;
    }
    out.append(text, i, n);
    i += n;
  }
  return out;
}

std::string DisplayPath(const NativePath& path) { return DisplayText(native_to_utf8(path)); }

std::string ValidUtf8(const std::string& text) {
  std::string valid;
  valid.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = Utf8SequenceAt(text, i);
    if (n == 0) {
      valid += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
    } else {
      valid.append(text, i, n);
      i += n;
    }
  }
  return valid;
}

void SetJsonPath(nlohmann::json& object, const std::string& key, const NativePath& path) {
  const std::string utf8 = native_to_utf8(path);
  const std::string valid = ValidUtf8(utf8);
  object[key] = valid;
  if (valid == utf8 && native_from_utf8(utf8) == path) return;
  std::string hex;
  for (NativeChar c : path) {
    const auto unit = static_cast<std::uint32_t>(c);
    for (std::size_t k = 0; k < sizeof(NativeChar); ++k) AppendHexByte(hex, unit >> (8 * k));
  }
  object[key + "_bytes"] = hex;
}

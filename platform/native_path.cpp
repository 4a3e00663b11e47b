#include "platform/native_path.h"

#include <cstdint>

namespace {

template <typename Char>
std::string utf16_to_utf8(const std::basic_string<Char>& in) {
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(in[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size()) {
      std::uint32_t d = static_cast<std::uint16_t>(in[i + 1]);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

template <typename Char>
std::basic_string<Char> utf8_to_utf16(const std::string& in) {
  std::basic_string<Char> out;
  std::size_t i = 0;
  while (i < in.size()) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    std::uint32_t c = 0xFFFD;
    std::size_t extra = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
    }
    ++i;
    for (std::size_t k = 0; k < extra; ++k, ++i) {
      if (i >= in.size() || (static_cast<unsigned char>(in[i]) & 0xC0) != 0x80) {
        c = 0xFFFD;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(in[i]) & 0x3F);
    }
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out += static_cast<Char>(0xD800 + (c >> 10));
      out += static_cast<Char>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<Char>(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
  return out;
}

}  // namespace

std::string native_to_utf8(const NativePath& path) {
  if constexpr (sizeof(NativeChar) == 1) {
    return std::string(path.begin(), path.end());
  } else {
    return utf16_to_utf8(path);
  }
}

NativePath native_from_utf8(const std::string& text) {
  if constexpr (sizeof(NativeChar) == 1) {
    return NativePath(text.begin(), text.end());
  } else {
    return utf8_to_utf16<NativeChar>(text);
  }
}

NativePath JoinPath(const NativePath& folder, const NativePath& name) {
  NativePath out = folder;
  if (!out.empty() && out.back() != kPathSeparator) out += kPathSeparator;
  return out + name;
}

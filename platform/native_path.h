// Native path strings: UTF-16 on Windows, bytes on POSIX systems. The probe
// keeps its diagnostics in UTF-8, so these helpers convert both ways.
#pragma once

#include <filesystem>
#include <string>

using NativePath = std::filesystem::path::string_type;
using NativeChar = NativePath::value_type;

// Path as UTF-8 (unchanged bytes on POSIX; UTF-16 decoded on Windows, with
// unpaired surrogates written as U+FFFD).
std::string native_to_utf8(const NativePath& path);

// The reverse: UTF-8 bytes to the native path string.
NativePath native_from_utf8(const std::string& text);

// Native path from a string literal or narrow command-line argument.
inline NativePath native_path(const std::filesystem::path& p) { return p.native(); }

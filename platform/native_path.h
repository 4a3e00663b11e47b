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

// The platform's path separator.
#ifdef _WIN32
inline constexpr NativeChar kPathSeparator = L'\\';
#else
inline constexpr NativeChar kPathSeparator = '/';
#endif

// folder + separator (when folder is non-empty and lacks one) + name. The one
// place paths are put together from a folder and a name.
NativePath JoinPath(const NativePath& folder, const NativePath& name);

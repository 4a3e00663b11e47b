// Names of files as the command shows them. File names are arbitrary bytes
// (POSIX) or arbitrary UTF-16 (Windows); the terminal and JSON want text.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "platform/native_path.h"

// Text for a terminal line: valid UTF-8 passes unchanged, while control
// characters (a newline, an escape sequence) and bytes that are not UTF-8
// become \xNN, so no name can forge a line or move the cursor.
std::string DisplayText(const std::string& utf8_or_bytes);
std::string DisplayPath(const NativePath& path);

// The text with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

// Sets object[key] to the path as valid UTF-8 (anything that is not becomes
// U+FFFD). When that text does not give the exact name back, object[key +
// "_bytes"] holds the name's exact bytes in hex (on Windows: its UTF-16LE
// code units), so a script can still find the file.
void SetJsonPath(nlohmann::json& object, const std::string& key, const NativePath& path);

// Directory calls behind EnsureFolder, one implementation per platform.
#pragma once

#include <system_error>

#include "platform/native_path.h"

// True when path names an existing directory.
bool IsDirectoryPath(const NativePath& path);
// Creates one directory (its parent must exist); false, with the reason in
// error, when it cannot (std::errc::file_exists when something is there).
bool MakeDirectory(const NativePath& path, std::error_code& error);
// Removes a directory only when it is empty.
bool RemoveEmptyDirectory(const NativePath& path);
// True when new entries can be made in the existing directory path;
// otherwise false with the system's reason in error (a read-only folder, a
// read-only file system). Nothing is left behind.
bool CanWriteInFolder(const NativePath& path, std::error_code& error);

// Directory calls behind EnsureFolder, one implementation per platform.
#pragma once

#include "platform/native_path.h"

// True when path names an existing directory.
bool IsDirectoryPath(const NativePath& path);
// Creates one directory (its parent must exist); false when it cannot.
bool MakeDirectory(const NativePath& path);

// The entries of one folder, as the extraction walk needs them.
#pragma once

#include <vector>

#include "platform/native_path.h"

struct FolderEntry {
  NativePath name;         // the entry's own name, no folder part
  bool directory = false;  // a folder, or a link to one
  bool link = false;       // a symbolic link (POSIX) or a reparse point, such as a junction (Windows)
};

// The entries of `folder` ("." and ".." left out), in the order the system
// hands them out. Empty when the folder cannot be listed.
std::vector<FolderEntry> ListFolderEntries(const NativePath& folder);

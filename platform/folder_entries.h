// The entries of one folder, as the extraction walk and the clean-up of
// stale temporaries need them.
#pragma once

#include <system_error>
#include <vector>

#include "platform/native_path.h"

struct FolderEntry {
  NativePath name;         // the entry's own name, no folder part
  bool directory = false;  // a folder, or a link to one
  bool link = false;       // a symbolic link (POSIX) or a reparse point, such as a junction (Windows)
  bool regular = false;    // a regular file, or a link to one (no pipe, socket or device)
};

// The entries of `folder` ("." and ".." left out), in the order the system
// hands them out. When the folder cannot be listed (or the listing breaks
// off), `error` holds the system's reason and the entries are those read.
std::vector<FolderEntry> ListFolderEntries(const NativePath& folder, std::error_code& error);

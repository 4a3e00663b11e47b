// Whole-file writes that never leave a half-written file at the target path.
#pragma once

#include <cstddef>
#include <system_error>

#include "platform/file_times.h"
#include "platform/native_path.h"

// Writes the bytes to a temporary file in the target's folder and moves it to
// `path` only when every byte was written and flushed. Never replaces an
// existing file: false when `path` exists already or appears meanwhile, and
// on any write failure (a short write counts as one). The temporary file is
// always removed on failure. With known times, the temporary file gets them
// before it is moved (failing to set them is a write failure), so the file
// never stands under its name without them. On failure *error, when given,
// holds the operating system's reason.
bool WriteFileNoReplace(const NativePath& path, const void* data, std::size_t length,
                        const FileTimes* times = nullptr, std::error_code* error = nullptr);

// As above, but the move replaces an existing file at `path` atomically: a
// reader sees either the old or the new content, never a mix. A symbolic
// link at `path` stays: the file it leads to is replaced, and a replaced
// file keeps its permission bits (POSIX systems).
bool ReplaceFileAtomically(const NativePath& path, const void* data, std::size_t length,
                           const FileTimes* times = nullptr, std::error_code* error = nullptr);

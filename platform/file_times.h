// A file's times, read from one file to be given to another (an output
// keeps its RAW file's times, as `cp -p` does).
#pragma once

#include <cstdint>

#include "platform/native_path.h"

struct FileTimes {
  std::int64_t modified_ns = 0;  // nanoseconds since 1970-01-01 UTC
  std::int64_t created_ns = 0;   // Windows only (0 elsewhere)
  bool known = false;            // false when the file could not be asked
};

// The times of the file at path; known is false when it cannot be read.
FileTimes ReadFileTimes(const NativePath& path);

// Gives an open file the times; true on success. Call after the last write
// (a write moves the modification time). POSIX takes a descriptor, Windows
// a HANDLE opened with write access; each is defined on its own platform.
bool ApplyFileTimesToDescriptor(int fd, const FileTimes& times);
bool ApplyFileTimesToHandle(void* handle, const FileTimes& times);

// Read-only access to a file by native path, with positioned reads. This is
// the only place the probe touches the operating system's file interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>

#include "platform/native_path.h"

class NativeFile {
 public:
  virtual ~NativeFile() = default;
  // Opens for reading, sharing allowed (other readers and writers are not
  // refused). Returns null when the file cannot be opened or is not a
  // regular file (a folder, a named pipe, a device); never waits. With
  // `why`, the system's reason is left there when the open failed, and it is
  // cleared when what is there is no regular file.
  static std::unique_ptr<NativeFile> open_for_reading(const NativePath& path, std::error_code* why = nullptr);

  virtual std::int64_t size() const = 0;
  // Reads up to n bytes at offset; returns the count read (short at the end).
  virtual std::size_t read_at(std::int64_t offset, void* dst, std::size_t n) = 0;
};

// True when something (a file, a folder) is at path; links are followed.
bool NativePathExists(const NativePath& path);

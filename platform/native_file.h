// Read-only access to a file by native path, with positioned reads. This is
// the only place the probe touches the operating system's file interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/native_path.h"

class NativeFile {
 public:
  virtual ~NativeFile() = default;
  // Opens for reading, sharing allowed (other readers and writers are not
  // refused). Returns null when the file cannot be opened or is not a
  // regular file (a folder, a named pipe, a device); never waits.
  static std::unique_ptr<NativeFile> open_for_reading(const NativePath& path);

  virtual std::int64_t size() const = 0;
  // Reads up to n bytes at offset; returns the count read (short at the end).
  virtual std::size_t read_at(std::int64_t offset, void* dst, std::size_t n) = 0;
};

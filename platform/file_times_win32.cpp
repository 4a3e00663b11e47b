#include <windows.h>

#include "platform/file_times.h"
#include "platform/long_path.h"

namespace {

// FILETIME counts 100-nanosecond steps from 1601-01-01 UTC.
constexpr std::int64_t kEpochDifference100ns = 116444736000000000LL;

std::int64_t ToNanoseconds(const FILETIME& ft) {
  const std::int64_t ticks =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
  return (ticks - kEpochDifference100ns) * 100;
}

FILETIME ToFileTime(std::int64_t ns) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(ns / 100 + kEpochDifference100ns);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

}  // namespace

FileTimes ReadFileTimes(const NativePath& path) {
  FileTimes times;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Win32FilePath(path).c_str(), GetFileExInfoStandard, &data)) return times;
  times.modified_ns = ToNanoseconds(data.ftLastWriteTime);
  times.created_ns = ToNanoseconds(data.ftCreationTime);
  times.known = true;
  return times;
}

bool ApplyFileTimesToHandle(void* handle, const FileTimes& times) {
  if (!times.known) return false;
  const FILETIME created = ToFileTime(times.created_ns);
  const FILETIME modified = ToFileTime(times.modified_ns);
  return SetFileTime(static_cast<HANDLE>(handle), &created, nullptr, &modified) != 0;
}

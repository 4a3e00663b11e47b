// Whole-file writes through a temporary file on Windows.
#include <windows.h>

#include <string>

#include "platform/atomic_write.h"
#include "platform/long_path.h"
#include "platform/temp_names.h"

namespace {

// Attempts at finding an unused temporary name before giving up.
constexpr int kTempNameAttempts = 100;

// Writes the data to a new temporary file beside `path` (both in the form
// the file calls get); its name is left in temp_path.
bool WriteTemporary(const std::wstring& path, const void* data, std::size_t length, const FileTimes* times,
                    std::wstring& temp_path) {
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kTempNameAttempts && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp_path = Win32FilePath(TemporaryPathBeside(path));
    h = CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  const char* p = static_cast<const char*>(data);
  while (ok && length > 0) {
    DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD done = 0;
    if (!WriteFile(h, p, chunk, &done, nullptr) || done == 0) ok = false;
    p += done;
    length -= done;
  }
  if (ok && !FlushFileBuffers(h)) ok = false;
  if (ok && times && times->known) ok = ApplyFileTimesToHandle(h, *times);
  if (!CloseHandle(h)) ok = false;
  if (ok) SetFileAttributesW(temp_path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!ok) DeleteFileW(temp_path.c_str());
  return ok;
}

}  // namespace

bool WriteFileNoReplace(const NativePath& path, const void* data, std::size_t length, const FileTimes* times) {
  if (path.empty()) return false;
  const std::wstring target = Win32FilePath(path);
  std::wstring temp;
  if (!WriteTemporary(target, data, length, times, temp)) return false;
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

bool ReplaceFileAtomically(const NativePath& path, const void* data, std::size_t length, const FileTimes* times) {
  if (path.empty()) return false;
  const std::wstring target = Win32FilePath(path);
  std::wstring temp;
  if (!WriteTemporary(target, data, length, times, temp)) return false;
  if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

// Whole-file writes through a temporary file on Windows.
#include <windows.h>

#include <atomic>
#include <string>

#include "job/atomic_write.h"

namespace {

// Attempts at finding an unused temporary name before giving up.
constexpr int kTempNameAttempts = 100;
// WriteFile takes at most a DWORD per call; write in chunks well below that.
constexpr std::size_t kWriteChunkBytes = std::size_t{1} << 30;

std::atomic<unsigned> temp_counter{0};

std::wstring TempNameFor(const std::wstring& path) {
  std::size_t slash = path.find_last_of(L"\\/");
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  return folder + L"." + name + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(temp_counter.fetch_add(1)) + L".tmp";
}

bool WriteTemporary(const std::wstring& path, const void* data, std::size_t length, std::wstring& temp_path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kTempNameAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp_path = TempNameFor(path);
    file = CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  const char* p = static_cast<const char*>(data);
  bool ok = true;
  while (ok && length > 0) {
    DWORD chunk = static_cast<DWORD>(length < kWriteChunkBytes ? length : kWriteChunkBytes);
    DWORD written = 0;
    ok = WriteFile(file, p, chunk, &written, nullptr) && written == chunk;  // short write = failure
    p += written;
    length -= written;
  }
  if (!CloseHandle(file)) ok = false;
  if (!ok) DeleteFileW(temp_path.c_str());
  return ok;
}

}  // namespace

bool WriteFileNoReplace(const NativePath& path, const void* data, std::size_t length) {
  if (path.empty()) return false;
  std::wstring temp;
  if (!WriteTemporary(path, data, length, temp)) return false;
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  if (MoveFileExW(temp.c_str(), path.c_str(), 0)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

bool ReplaceFileAtomically(const NativePath& path, const void* data, std::size_t length) {
  if (path.empty()) return false;
  std::wstring temp;
  if (!WriteTemporary(path, data, length, temp)) return false;
  if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

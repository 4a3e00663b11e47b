// Whole-file writes through a temporary file on Windows.
#include <windows.h>

#include <string>

#include "platform/atomic_write.h"
#include "platform/long_path.h"
#include "platform/temp_names.h"

namespace {

// Attempts at finding an unused temporary name before giving up.
constexpr int kTempNameAttempts = 100;

bool Fail(std::error_code* error, DWORD code) {
  if (error) *error = std::error_code(static_cast<int>(code), std::system_category());
  return false;
}

// A temporary file holding the data, registered as in flight until it is
// moved or removed.
class Temporary {
 public:
  ~Temporary() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
    ReleaseTemporary(slot_);
  }
  const std::wstring& path() const { return path_; }
  void Moved() { path_.clear(); }

  // Creates the file beside `target`, writes the data and sets known times;
  // GetLastError() holds the reason when false.
  bool Write(const std::wstring& target, const void* data, std::size_t length, const FileTimes* times) {
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kTempNameAttempts && h == INVALID_HANDLE_VALUE; ++attempt) {
      std::wstring name = TemporaryPathBeside(target);
      if (!BeginCreatingTemporary()) {  // the process is ending
        SetLastError(ERROR_OPERATION_ABORTED);
        return false;
      }
      ReleaseTemporary(slot_);
      slot_ = RegisterTemporary(name);
      // FILE_SHARE_DELETE lets an abrupt exit delete the file while it is open.
      h = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr);
      const DWORD saved = GetLastError();
      if (h != INVALID_HANDLE_VALUE) path_ = name;
      EndCreatingTemporary();
      SetLastError(saved);
      if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    const char* p = static_cast<const char*>(data);
    while (ok && length > 0) {
      DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
      DWORD done = 0;
      if (!WriteFile(h, p, chunk, &done, nullptr)) ok = false;
      else if (done == 0) ok = false, SetLastError(ERROR_DISK_FULL);
      p += done;
      length -= done;
    }
    if (ok && !FlushFileBuffers(h)) ok = false;
    if (ok && times && times->known) ok = ApplyFileTimesToHandle(h, *times);
    DWORD saved = GetLastError();
    if (!CloseHandle(h) && ok) {
      ok = false;
      saved = GetLastError();
    }
    if (ok) SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetLastError(saved);
    return ok;
  }

 private:
  std::wstring path_;
  int slot_ = -1;
};

bool Move(const NativePath& path, const void* data, std::size_t length, const FileTimes* times, DWORD flags,
          std::error_code* error) {
  if (path.empty()) return Fail(error, ERROR_PATH_NOT_FOUND);
  // The target and, beside it, the temporary in the form the file calls
  // take at any length.
  const std::wstring target = Win32FilePath(path);
  Temporary temp;
  if (!temp.Write(target, data, length, times)) return Fail(error, GetLastError());
  if (!MoveFileExW(temp.path().c_str(), target.c_str(), flags | MOVEFILE_WRITE_THROUGH))
    return Fail(error, GetLastError());
  temp.Moved();
  return true;
}

}  // namespace

bool WriteFileNoReplace(const NativePath& path, const void* data, std::size_t length, const FileTimes* times,
                        std::error_code* error) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  return Move(path, data, length, times, 0, error);
}

bool ReplaceFileAtomically(const NativePath& path, const void* data, std::size_t length, const FileTimes* times,
                           std::error_code* error) {
  return Move(path, data, length, times, MOVEFILE_REPLACE_EXISTING, error);
}

// File-system calls of the output naming on Windows.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "job/output_names.h"
#include "job/output_names_platform.h"
#include "platform/long_path.h"

bool IsDirectoryPath(const NativePath& path) {
  DWORD attributes = GetFileAttributesW(Win32FilePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const NativePath& path, std::error_code& error) {
  if (CreateDirectoryW(Win32FilePath(path).c_str(), nullptr)) return true;
  const DWORD code = GetLastError();
  error = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
              ? std::make_error_code(std::errc::file_exists)
              : std::error_code(static_cast<int>(code), std::system_category());
  return false;
}

bool RemoveEmptyDirectory(const NativePath& path) {
  return RemoveDirectoryW(Win32FilePath(path).c_str()) != FALSE;
}

bool CanWriteInFolder(const NativePath& path, std::error_code& error) {
  // The folder's access rights are only known by trying: a file of a name
  // nobody uses, deleted by the system as its handle closes.
  NativePath probe = JoinPath(path, NativeFromAscii(".vltr-write-check-"));
  probe += NativeFromAscii(std::to_string(GetCurrentProcessId()).c_str());
  HANDLE h = CreateFileW(Win32FilePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_EXISTS) return true;  // another run's check: the folder takes files
  error = std::error_code(static_cast<int>(code), std::system_category());
  return false;
}

std::FILE* OpenFileWide(const NativePath& path, const char* mode) {
  // Only the two binary modes the job uses; anything else is refused.
  const bool read = mode != nullptr && mode[0] == 'r';
  const bool write = mode != nullptr && mode[0] == 'w';
  if (!read && !write) return nullptr;
  if (IsDirectoryPath(path)) return nullptr;
  // Opened by CreateFileW, which takes the long form of the path (the C
  // runtime's open would not), then handed to the runtime. The handle is not
  // inherited by child processes.
  HANDLE h = CreateFileW(Win32FilePath(path).c_str(), read ? GENERIC_READ : GENERIC_WRITE,
                         read ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ, nullptr,
                         read ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), read ? _O_RDONLY | _O_BINARY : _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, read ? "rb" : "wb");
  if (f == nullptr) _close(fd);
  return f;
}

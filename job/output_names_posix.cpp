// File-system calls of the output naming on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "job/output_names.h"
#include "job/output_names_platform.h"

bool IsDirectoryPath(const NativePath& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const NativePath& path, std::error_code& error) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  error = std::error_code(errno, std::generic_category());
  return false;
}

bool RemoveEmptyDirectory(const NativePath& path) { return ::rmdir(path.c_str()) == 0; }

bool CanWriteInFolder(const NativePath& path, std::error_code& error) {
  // access() answers for this process's own ids and for read-only mounts
  // (EROFS), as the later write would meet them.
  if (::access(path.c_str(), W_OK | X_OK) == 0) return true;
  error = std::error_code(errno, std::generic_category());
  return false;
}

std::FILE* OpenFileWide(const NativePath& path, const char* mode) {
  // Only the two binary modes the job uses; anything else is refused.
  const bool read = mode != nullptr && mode[0] == 'r';
  const bool write = mode != nullptr && mode[0] == 'w';
  if (!read && !write) return nullptr;
  // Opened through open() so that only regular files are taken, the
  // descriptor is not inherited by child processes, and a named pipe never
  // blocks the open (O_NONBLOCK changes nothing for regular files).
  int flags = (read ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC) | O_CLOEXEC | O_NONBLOCK;
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, read ? "rb" : "wb");
  if (f == nullptr) ::close(fd);
  return f;
}

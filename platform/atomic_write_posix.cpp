// Whole-file writes through a temporary file on POSIX systems.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/atomic_write.h"
#include "platform/temp_names.h"

namespace {

// Attempts at finding an unused temporary name before giving up.
constexpr int kTempNameAttempts = 100;

bool WriteAll(int fd, const void* data, std::size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // error, or no progress (full disk)
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the data to a new temporary file; its name is left in temp_path.
bool WriteTemporary(const std::string& path, const void* data, std::size_t length, const FileTimes* times,
                    std::string& temp_path) {
  int fd = -1;
  for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
    temp_path = TemporaryPathBeside(path);
    fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) return false;
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data, length);
  if (ok && times && times->known) ok = ApplyFileTimesToDescriptor(fd, *times);
  if (::close(fd) != 0) ok = false;  // delayed write errors show here (NFS)
  if (!ok) ::unlink(temp_path.c_str());
  return ok;
}

// Moves temp to target unless target exists. Linux offers this as one call;
// elsewhere, or on file systems without it, a hard link does the same.
bool MoveNoReplace(const std::string& temp, const std::string& target) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  if (::link(temp.c_str(), target.c_str()) != 0) return false;
  ::unlink(temp.c_str());
  return true;
}

}  // namespace

bool WriteFileNoReplace(const NativePath& path, const void* data, std::size_t length, const FileTimes* times) {
  if (path.empty()) return false;
  std::string temp;
  if (!WriteTemporary(path, data, length, times, temp)) return false;
  if (MoveNoReplace(temp, path)) return true;
  ::unlink(temp.c_str());
  return false;
}

bool ReplaceFileAtomically(const NativePath& path, const void* data, std::size_t length, const FileTimes* times) {
  if (path.empty()) return false;
  std::string temp;
  if (!WriteTemporary(path, data, length, times, temp)) return false;
  if (::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

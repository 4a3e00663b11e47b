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
// Links followed from the path to the file a replacement writes; more is a
// loop (the system's own limit is of this order).
constexpr int kMaxLinkHops = 40;

bool Fail(std::error_code* error, int code) {
  if (error) *error = std::error_code(code, std::generic_category());
  return false;
}

bool WriteAll(int fd, const void* data, std::size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;  // no progress: the disk is full
    if (n <= 0) return false;
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// A temporary file holding the data, registered as in flight until it is
// moved or removed.
class Temporary {
 public:
  ~Temporary() {
    if (!path_.empty()) ::unlink(path_.c_str());
    ReleaseTemporary(slot_);
  }
  const std::string& path() const { return path_; }
  // The file was moved into place: nothing to remove.
  void Moved() { path_.clear(); }

  // Creates the file beside `target` with `mode` (when not 0), writes the
  // data and sets known times; errno holds the reason when false.
  bool Write(const std::string& target, const void* data, std::size_t length, mode_t mode,
             const FileTimes* times) {
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
      std::string name = TemporaryPathBeside(target);
      if (!BeginCreatingTemporary()) {  // the process is ending
        errno = ECANCELED;
        return false;
      }
      ReleaseTemporary(slot_);
      slot_ = RegisterTemporary(name);
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      const int saved = errno;
      if (fd >= 0) path_ = name;
      EndCreatingTemporary();
      errno = saved;
      if (fd < 0 && errno != EEXIST && errno != EINTR) return false;
    }
    if (fd < 0) return false;
    bool ok = (mode == 0 || ::fchmod(fd, mode) == 0) && WriteAll(fd, data, length);
    if (ok && times && times->known) ok = ApplyFileTimesToDescriptor(fd, *times);
    int saved = errno;
    if (::close(fd) != 0 && ok) {  // delayed write errors show here (NFS)
      ok = false;
      saved = errno;
    }
    errno = saved;
    return ok;
  }

 private:
  std::string path_;
  int slot_ = -1;
};

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

// The file a path leads to through symbolic links (the path itself when it
// is not a link, or does not exist).
bool FollowLinks(std::string& path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return false;
    target.resize(static_cast<std::size_t>(n));
    if (target.empty() || target[0] != '/') {
      std::size_t slash = path.rfind('/');
      target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
    }
    path = target;
  }
  errno = ELOOP;
  return false;
}

}  // namespace

bool WriteFileNoReplace(const NativePath& path, const void* data, std::size_t length, const FileTimes* times,
                        std::error_code* error) {
  if (path.empty()) return Fail(error, ENOENT);
  Temporary temp;
  if (!temp.Write(path, data, length, 0, times)) return Fail(error, errno);
  if (!MoveNoReplace(temp.path(), path)) return Fail(error, errno);
  temp.Moved();
  return true;
}

bool ReplaceFileAtomically(const NativePath& path, const void* data, std::size_t length, const FileTimes* times,
                           std::error_code* error) {
  if (path.empty()) return Fail(error, ENOENT);
  std::string target = path;
  if (!FollowLinks(target)) return Fail(error, errno);
  struct stat st {};
  const mode_t mode = ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 07777) : 0;
  Temporary temp;
  if (!temp.Write(target, data, length, mode, times)) return Fail(error, errno);
  if (::rename(temp.path().c_str(), target.c_str()) != 0) return Fail(error, errno);
  temp.Moved();
  return true;
}

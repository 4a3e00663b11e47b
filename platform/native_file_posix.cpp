#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/native_file.h"

namespace {

class PosixFile final : public NativeFile {
 public:
  PosixFile(int fd, std::int64_t size) : fd_(fd), size_(size) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  std::int64_t size() const override { return size_; }

  std::size_t read_at(std::int64_t offset, void* dst, std::size_t n) override {
    if (offset < 0 || offset >= size_) return 0;
    std::size_t done = 0;
    auto* out = static_cast<unsigned char*>(dst);
    while (done < n) {
      ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

 private:
  int fd_;
  std::int64_t size_;
};

}  // namespace

std::unique_ptr<NativeFile> NativeFile::open_for_reading(const NativePath& path, std::error_code* why) {
  // Without O_NONBLOCK, opening a named pipe waits for a writer for ever.
  // Only regular files are read; O_NONBLOCK changes nothing for them.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (why) *why = std::error_code(errno, std::generic_category());
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (why) why->clear();
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd, static_cast<std::int64_t>(st.st_size));
}

bool NativePathExists(const NativePath& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

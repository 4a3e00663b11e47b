#include <fcntl.h>
#include <sys/stat.h>

#include "platform/file_times.h"

FileTimes ReadFileTimes(const NativePath& path) {
  FileTimes times;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return times;
  times.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  times.known = true;
  return times;
}

bool ApplyFileTimesToDescriptor(int fd, const FileTimes& times) {
  if (!times.known) return false;
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;  // the access time is the system's business
  ts[1].tv_sec = static_cast<time_t>(times.modified_ns / 1000000000);
  ts[1].tv_nsec = static_cast<long>(times.modified_ns % 1000000000);
  if (ts[1].tv_nsec < 0) {
    ts[1].tv_nsec += 1000000000;
    --ts[1].tv_sec;
  }
  return ::futimens(fd, ts) == 0;
}

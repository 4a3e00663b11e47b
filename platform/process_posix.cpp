// Process facts on POSIX systems.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/temp_names.h"

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

bool ProcessMayBeRunning(unsigned long pid) {
  // 0 and values beyond pid_t would name process groups to kill().
  if (pid == 0 || pid > static_cast<unsigned long>(INT_MAX)) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool RemoveFileNow(const NativeChar* path) { return ::unlink(path) == 0; }

void PauseBriefly() {
  const struct timespec pause = {0, 1000000};
  ::nanosleep(&pause, nullptr);
}

#include "platform/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<bool> g_resized{true};

extern "C" void OnWindowChange(int) { g_resized.store(true); }

}  // namespace

int TerminalColumns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void WatchTerminalSize() {
  struct sigaction action {};
  action.sa_handler = OnWindowChange;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a resize never breaks off a read or write
  ::sigaction(SIGWINCH, &action, nullptr);
}

bool TerminalResized() { return g_resized.exchange(false); }

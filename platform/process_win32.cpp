// Process facts on Windows.
#include <windows.h>

#include "platform/long_path.h"
#include "platform/temp_names.h"

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessMayBeRunning(unsigned long pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // exists, but not ours to open
  // A process that has exited but whose handle is still held elsewhere
  // opens too; it is signalled.
  const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

bool RemoveFileNow(const NativeChar* path) { return DeleteFileW(Win32FilePath(path).c_str()) != 0; }

void PauseBriefly() { Sleep(1); }

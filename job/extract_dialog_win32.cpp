// Progress dialog and its worker thread.
#include "job/extract_dialog.h"

#include "job/extraction_job.h"
#include "job/progress_text.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerMilliseconds = 100;

}  // namespace

ExtractDialog::ExtractDialog() { jobSettings.LoadFromStore(); }

ExtractDialog::~ExtractDialog() = default;

void ExtractDialog::Lock() {
  if (jobMutex) WaitForSingleObject(jobMutex, INFINITE);
}

void ExtractDialog::Unlock() {
  if (jobMutex) ReleaseMutex(jobMutex);
}

std::wstring ExtractDialog::StatusTextFor(const JobCounters& c, std::int32_t failedFiles,
                                          const std::string& firstReason) {
  std::string text = c.filesScanned < 0 ? ScanningText(c.filesFound) : StatusText(c);
  if (failedFiles > 0) text += "\n" + FailureLine(failedFiles, firstReason);
  return native_from_utf8(text);  // the reason may be the system's, in any language
}

// Called by the worker with the lock held: the first failure is moved in,
// nothing allocates, so nothing here can throw while the lock is held.
void ExtractDialog::AddFailure(FileFailure failure) {
  if (firstFailureSet) return;
  firstFailure = std::move(failure);
  firstFailureSet = true;
}

void ExtractDialog::OnInitDialog() {
  statusText = GetDlgItem(window, IDC_STATUS_TEXT);
  counters = JobCounters();  // filesScanned -1, counters 0, flags false
  workerStarted = false;

  OnTimerTick(true);

  jobMutex = CreateMutexW(nullptr, FALSE, nullptr);
  if (!jobMutex) return;
  workerThread = CreateThread(nullptr, 0, &ExtractDialog::WorkerEntry, this, 0, nullptr);
  if (!workerThread) {
    CloseHandle(jobMutex);
    jobMutex = nullptr;
    return;
  }
  workerStarted = true;
  SetTimer(window, kTimerId, kTimerMilliseconds, nullptr);
  SetWindowTextW(statusText, StatusTextFor(JobCounters()).c_str());  // "Scanning..." from the start
}

// Cancel, Esc, the close button and "Done": the worker is stopped while the
// dialog is still shown and its owner still disabled, so the command cannot
// be started again meanwhile; the base then ends the dialog.
void ExtractDialog::OnCancel() { StopWorker(); }

void ExtractDialog::OnCommand(int id, int code) {
  if (stopping) return;  // a second close while the worker is being stopped
  Dialog::OnCommand(id, code);
}

// However else the window goes, the worker has ended before it has.
void ExtractDialog::OnDestroy() { StopWorker(); }

void ExtractDialog::StopWorker() {
  if (!workerStarted || stopping) return;
  stopping = true;
  KillTimer(window, kTimerId);
  {
    JobLock lock(*this);
    counters.cancelRequested = true;
  }
  if (HWND button = GetDlgItem(window, IDCANCEL)) EnableWindow(button, FALSE);
  WaitForWorker();
  CloseHandle(workerThread);
  workerThread = nullptr;
  CloseHandle(jobMutex);
  jobMutex = nullptr;
  workerStarted = false;
  stopping = false;
}

// The worker may need long to see the request (a huge folder listing, a
// slow network share): meanwhile this thread, the file browser's window
// thread, goes on handling its messages. A WM_QUIT met here is posted again
// for the loop it was meant for.
void ExtractDialog::WaitForWorker() {
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &workerThread, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) break;
    if (woke != WAIT_OBJECT_0 + 1) {
      WaitForSingleObject(workerThread, INFINITE);
      break;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = message.wParam;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

INT_PTR ExtractDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    OnTimerTick(false);
    return TRUE;
  }
  return Dialog::HandleMessage(message, wParam, lParam);
}

// The job's counters are copied and the close countdown stepped under the
// lock, which covers nothing that can throw; the text is built and shown
// afterwards. A failure there (out of memory) reaches the dialog's exception
// barrier with the lock free, so the worker runs on and the dialog can close.
// A job in which files failed does not close by itself: the user reads the
// failure line and presses Done.
void ExtractDialog::OnTimerTick(bool initial) {
  JobCounters seen;  // as the tick found them, before the countdown step
  bool withReason = false;
  std::int32_t countdown = 0;
  bool countdownStepped = false;
  if (initial) {
    seen = counters;  // the worker has not started yet
  } else {
    JobLock lock(*this);
    if (counters.failedCount > 0) counters.closeCountdown = 0;
    seen = counters;
    withReason = firstFailureSet;
    if (counters.jobDone && counters.closeCountdown != 0) {
      countdown = --counters.closeCountdown;
      countdownStepped = true;
    }
  }
  if (countdownStepped && countdown == 0) {
    OnCommand(IDCANCEL, 0);  // ends the dialog as the button would
    return;
  }
  if (!initial) {
    if (seen.filesScanned != shownScanned || seen.newCount != shownNew || seen.existingCount != shownExisting ||
        (seen.jobDone ? 1 : 0) != shownDone || seen.failedCount != shownFailed ||
        (seen.filesScanned < 0 && seen.filesFound != shownFound))
      RefreshStatusText(seen, withReason);
    if (seen.jobDone && shownDone == 0) SetDlgItemTextW(window, IDCANCEL, L"Done");
    if (countdownStepped && countdown % 10 == 0) {
      JobCounters next = seen;
      next.closeCountdown = countdown;
      RefreshStatusText(next, withReason);
    }
  }
  shownScanned = seen.filesScanned;
  shownNew = seen.newCount;
  shownExisting = seen.existingCount;
  shownDone = seen.jobDone ? 1 : 0;
  shownFound = seen.filesFound;
  shownFailed = seen.failedCount;
}

void ExtractDialog::RefreshStatusText(const JobCounters& seen, bool withReason) {
  if (statusTextHook) statusTextHook(seen);
  // The first failure, seen set under the lock, is never written again: it
  // is read here without the lock.
  const std::string reason = withReason && firstFailure ? FailureReasonForUser(*firstFailure) : std::string();
  SetWindowTextW(statusText, StatusTextFor(seen, seen.failedCount, reason).c_str());
}

DWORD WINAPI ExtractDialog::WorkerEntry(LPVOID parameter) {
  auto* self = static_cast<ExtractDialog*>(parameter);
  JobOptions options;
  options.settings = static_cast<const SettingsRecord&>(self->jobSettings);
  options.workers = 1;
  static const std::vector<std::wstring> kNothing;
  // The thread is an exception barrier: a failure (out of memory, say) ends
  // the job undone instead of taking the host process down.
  try {
    if (workerHook) workerHook(*self);
    RunExtraction(*self, self->selection ? *self->selection : kNothing, options);
  } catch (...) {
  }
  return 0;
}

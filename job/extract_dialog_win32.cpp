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

std::wstring ExtractDialog::StatusTextFor(const JobCounters& c) {
  const std::string text = StatusText(c);  // ASCII only
  return std::wstring(text.begin(), text.end());
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
}

void ExtractDialog::OnDestroy() {
  if (!workerStarted) return;
  KillTimer(window, kTimerId);
  {
    JobLock lock(*this);
    counters.cancelRequested = true;
  }
  WaitForSingleObject(workerThread, INFINITE);
  CloseHandle(workerThread);
  workerThread = nullptr;
  CloseHandle(jobMutex);
  jobMutex = nullptr;
  workerStarted = false;
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
void ExtractDialog::OnTimerTick(bool initial) {
  JobCounters seen;  // as the tick found them, before the countdown step
  std::int32_t countdown = 0;
  bool countdownStepped = false;
  if (initial) {
    seen = counters;  // the worker has not started yet
  } else {
    JobLock lock(*this);
    seen = counters;
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
        (seen.jobDone ? 1 : 0) != shownDone)
      RefreshStatusText(seen);
    if (seen.jobDone && shownDone == 0) SetDlgItemTextW(window, IDCANCEL, L"Done");
    if (countdownStepped && countdown % 10 == 0) {
      JobCounters next = seen;
      next.closeCountdown = countdown;
      RefreshStatusText(next);
    }
  }
  shownScanned = seen.filesScanned;
  shownNew = seen.newCount;
  shownExisting = seen.existingCount;
  shownDone = seen.jobDone ? 1 : 0;
}

void ExtractDialog::RefreshStatusText(const JobCounters& seen) {
  if (statusTextHook) statusTextHook(seen);
  SetWindowTextW(statusText, StatusTextFor(seen).c_str());
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
    RunExtraction(*self, self->selection ? *self->selection : kNothing, options);
  } catch (...) {
  }
  return 0;
}

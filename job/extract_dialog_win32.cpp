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
  Lock();
  counters.cancelRequested = true;
  Unlock();
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

void ExtractDialog::OnTimerTick(bool initial) {
  if (!initial) {
    Lock();
    if (counters.filesScanned != shownScanned || counters.newCount != shownNew ||
        counters.existingCount != shownExisting || (counters.jobDone ? 1 : 0) != shownDone)
      RefreshStatusText();
    if ((counters.jobDone ? 1 : 0) != shownDone && counters.jobDone)
      SetDlgItemTextW(window, IDCANCEL, L"Done");
    if (counters.jobDone && counters.closeCountdown != 0) {
      if (--counters.closeCountdown == 0)
        OnCommand(IDCANCEL, 0);  // ends the dialog as the button would
      else if (counters.closeCountdown % 10 == 0)
        RefreshStatusText();
    }
  }
  shownScanned = counters.filesScanned;
  shownNew = counters.newCount;
  shownExisting = counters.existingCount;
  shownDone = counters.jobDone ? 1 : 0;
  if (!initial) Unlock();
}

void ExtractDialog::RefreshStatusText() { SetWindowTextW(statusText, StatusTextFor(counters).c_str()); }

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

// The progress dialog (template 2). It owns one extraction job: when it
// opens it starts the worker thread and a 100 ms timer that shows the job's
// counters ("Scanning..." with the files found while the walk runs); when
// files could not be extracted it says how many and why the first one
// failed. When the job is done it shows the times and relabels its button
// "Done"; it closes itself ten seconds later only when nothing failed.
// Closed early, it asks the worker to stop and waits for it, handling the
// thread's messages meanwhile so that the window that owns it stays alive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "job/job_host.h"
#include "settings/preferences_dialog.h"
#include "ui/dialog.h"

class ExtractDialog : public Dialog, public JobHost {
 public:
  // jobSettings takes its copy of the settings record from the store.
  ExtractDialog();
  ~ExtractDialog() override;

  // The paths to walk; set by the caller before ShowModal, not owned.
  const std::vector<std::wstring>* selection = nullptr;
  // The job's copy of the settings record; never shown.
  PreferencesDialog jobSettings;

  void OnInitDialog() override;
  void OnDestroy() override;
  void OnCommand(int id, int code) override;
  void OnCancel() override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // JobHost: the job's fields, guarded by jobMutex.
  void Lock() override;
  void Unlock() override;
  JobCounters& Counters() override { return counters; }
  void AddFailure(FileFailure failure) override;
  void AddOutput(OutputRecord) override {}

  // The status text for these counters, as the dialog shows it, with the
  // failure line when failedFiles is not 0.
  static std::wstring StatusTextFor(const JobCounters& counters, std::int32_t failedFiles = 0,
                                    const std::string& firstReason = {});

  // Test hook: called with the counters each time the status text is about
  // to be built and shown; it may throw to stand for a failure there. Null
  // outside the tests.
  using StatusTextHook = void (*)(const JobCounters& counters);
  static inline StatusTextHook statusTextHook = nullptr;
  // Test hook: run by the worker thread before the job, with the dialog
  // (the job's host). Null outside the tests.
  using WorkerHook = void (*)(ExtractDialog& dialog);
  static inline WorkerHook workerHook = nullptr;

  HWND statusText = nullptr;
  JobCounters counters;
  std::int32_t shownScanned = -1;
  std::int32_t shownNew = 0;
  std::int32_t shownExisting = 0;
  std::int32_t shownDone = 0;
  std::int32_t shownFound = 0;
  std::int32_t shownFailed = 0;
  // The first failure the job reported, whole: written by the worker once,
  // under the lock, and never again, so once the dialog has seen
  // firstFailureSet under the lock it reads firstFailure without it. (The
  // job counts the files that failed, counters.failedCount.)
  std::optional<FileFailure> firstFailure;
  bool firstFailureSet = false;
  HANDLE workerThread = nullptr;
  HANDLE jobMutex = nullptr;
  bool workerStarted = false;
  bool stopping = false;  // inside StopWorker

 private:
  void OnTimerTick(bool initial);
  // Asks the worker to stop and waits for it to end; idempotent.
  void StopWorker();
  // Waits for the worker to end while handling this thread's messages.
  void WaitForWorker();
  void RefreshStatusText(const JobCounters& seen, bool withReason);
  static DWORD WINAPI WorkerEntry(LPVOID parameter);
};

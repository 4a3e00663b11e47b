// The progress dialog (template 2). It owns one extraction job: when it
// opens it starts the worker thread and a 100 ms timer that shows the job's
// counters; when the job is done it shows the times, relabels its button
// "Done" and closes itself ten seconds later; closed early, it asks the
// worker to stop and waits for it.
#pragma once

#include <cstdint>
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
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // JobHost: the job's fields, guarded by jobMutex.
  void Lock() override;
  void Unlock() override;
  JobCounters& Counters() override { return counters; }
  void AddFailure(FileFailure) override {}
  void AddOutput(OutputRecord) override {}

  // The status text for these counters, as the dialog shows it.
  static std::wstring StatusTextFor(const JobCounters& counters);

  // Test hook: called with the counters each time the status text is about
  // to be built and shown; it may throw to stand for a failure there. Null
  // outside the tests.
  using StatusTextHook = void (*)(const JobCounters& counters);
  static inline StatusTextHook statusTextHook = nullptr;

  HWND statusText = nullptr;
  JobCounters counters;
  std::int32_t shownScanned = -1;
  std::int32_t shownNew = 0;
  std::int32_t shownExisting = 0;
  std::int32_t shownDone = 0;
  HANDLE workerThread = nullptr;
  HANDLE jobMutex = nullptr;
  bool workerStarted = false;

 private:
  void OnTimerTick(bool initial);
  void RefreshStatusText(const JobCounters& seen);
  static DWORD WINAPI WorkerEntry(LPVOID parameter);
};

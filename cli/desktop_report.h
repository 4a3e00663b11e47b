// An extraction run started from a file manager has no terminal: its progress
// and its summary go to a desktop notification (through notify-send, when
// present) and its failures to a log file under $XDG_STATE_HOME/veltrano/,
// which the closing notification names.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "job/job_host.h"

// Seconds between two progress notifications.
inline constexpr std::chrono::seconds kNotifyInterval{3};
// The failure log is moved aside to failures.log.1 once it outgrows this.
inline constexpr std::uintmax_t kMaxFailureLogBytes = 1 << 20;

// One failure as stderr and the failure log give it: the file, what failed,
// the system's reason, the output concerned (names escaped as DisplayPath).
std::string FailureText(const FileFailure& failure);

// &, < and > as entities, for XML text and notification-body markup.
std::string MarkupEscaped(const std::string& text);

class DesktopReport {
 public:
  // A report when standard error is no terminal and a desktop session is
  // there; null otherwise. notify = false keeps it to the failure log
  // (--quiet and --json runs).
  static std::unique_ptr<DesktopReport> ForThisRun(bool notify);

  // Shows the first notification; later ones replace it when notify-send
  // can print and replace notification ids (-p/-r).
  void Started();
  // Updates the notification at most every kNotifyInterval.
  void Progress(const JobCounters& counters, std::chrono::steady_clock::time_point now);
  // Logs the failures, then shows the summary (and the log's path).
  void Finished(const std::string& summary, const std::vector<FileFailure>& failures, bool cancelled);

  // Where the failures go.
  static std::string FailureLogPath();

 private:
  void Notify(const std::string& title, const std::string& body, int percent);

  bool notify_ = false;
  std::string notifySend_;
  std::string id_;        // of the notification on screen; empty when none or not replaceable
  bool canReplace_ = true;
  std::chrono::steady_clock::time_point last_{};
};

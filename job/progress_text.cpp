#include "job/progress_text.h"

#include <cstdio>

std::string FormatTimeText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t h = seconds / 3600, m = (seconds / 60) % 60, s = seconds % 60;
  char buf[64];
  if (h > 0)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(m),
                  static_cast<long long>(s));
  else if (m > 0)
    std::snprintf(buf, sizeof buf, "%lld:%02lld min", static_cast<long long>(m), static_cast<long long>(s));
  else
    std::snprintf(buf, sizeof buf, "%lld sec", static_cast<long long>(s));
  return buf;
}

namespace {

std::string CountLines(const JobCounters& c) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "Files Scanned: %d\nJPEGs Extracted: %d Total - %d New", c.filesScanned,
                c.newCount + c.existingCount, c.newCount);
  return buf;
}

std::string AverageText(double average) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Average Time per File: %.*f sec", 2, average);
  return buf;
}

}  // namespace

std::string StatusText(const JobCounters& c) {
  std::string text = CountLines(c);
  if (c.jobDone) {
    text += "\nTotal Time: " + FormatTimeText(c.elapsedSeconds);
    text += "\n" + AverageText(c.newCount ? static_cast<double>(c.elapsedSeconds) / c.newCount : 0.0);
    if (c.closeCountdown != 0)
      text += "\n\nDialog box will close in " + std::to_string(c.closeCountdown / 10) + " seconds";
  }
  return text;
}

std::string ScanningText(std::int32_t filesFound) {
  if (filesFound <= 0) return "Scanning...";
  return "Scanning... " + std::to_string(filesFound) + (filesFound == 1 ? " file found" : " files found");
}

std::string FailureLine(std::int32_t failedFiles, const std::string& reason) {
  std::string line = "Could not extract " + std::to_string(failedFiles) + (failedFiles == 1 ? " file" : " files");
  if (!reason.empty()) line += ": " + reason;
  return line;
}

std::string FailureReasonForUser(const FileFailure& failure) {
  std::string text = failure.detail;
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  return text.empty() ? FailureReasonText(failure.reason) : text;
}

std::string SummaryText(const JobCounters& counters, double seconds, double average, bool cancelled, bool dryRun) {
  JobCounters c = counters;
  if (c.filesScanned < 0) c.filesScanned = 0;
  std::string text;
  if (dryRun) text += "Dry run: nothing was written; counts are what a run would do.\n";
  text += CountLines(c) + "\n";
  text += "Total Time: " + FormatTimeText(static_cast<std::int64_t>(seconds)) + "\n";
  text += AverageText(average) + "\n";
  text += "Not RAW: " + std::to_string(c.notRawCount) + "\n";
  if (cancelled) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "Cancelled: stopped after %d of %d files.\n", c.filesDone, c.filesScanned);
    text += buf;
  }
  return text;
}

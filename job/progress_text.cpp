#include "job/progress_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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
  auto line = [](const char* label, std::int64_t n) { return std::string(label) + ": " + std::to_string(n) + "\n"; };
  std::string text;
  if (dryRun) text += "Dry run: nothing was written; counts are what a run would do.\n";
  text += line("RAW files scanned", c.filesScanned);
  text += line("New", c.newCount);
  text += line("Already there", c.existingCount);
  text += line("Failed", c.failedCount);
  text += line("Not RAW", c.notRawCount);
  if (c.noPreviewCount > 0) text += line("RAW without preview", c.noPreviewCount);
  text += "JPEG files " + std::string(dryRun ? "to write" : "written") + ": " + std::to_string(c.outputsWritten) +
          ", already there: " + std::to_string(c.outputsExisting) + "\n";
  text += "Total time: " + FormatTimeText(static_cast<std::int64_t>(seconds)) + "\n";
  char buf[64];
  std::snprintf(buf, sizeof buf, "Average time per new file: %.2f sec\n", average);
  text += buf;
  if (cancelled) {
    std::snprintf(buf, sizeof buf, "Cancelled: stopped after %d of %d files.\n", c.filesDone, c.filesScanned);
    text += buf;
  }
  return text;
}

std::string ProgressLineText(const JobCounters& c, double seconds, double extractSeconds, int columns) {
  const std::size_t room = columns > 3 ? static_cast<std::size_t>(columns - 3) : 0;
  auto fitted = [room](std::string text) {
    if (text.size() > room) text.resize(room);
    return text;
  };
  if (c.filesScanned < 0) return fitted("Scanning...  " + FormatTimeText(static_cast<std::int64_t>(seconds)));
  // After the count: what matters most, then the bar, then the rest, each
  // only where it fits whole.
  char buf[64];
  const int left = c.filesScanned - c.filesDone;
  const double rate = extractSeconds > 0.5 && c.filesDone > 0 ? c.filesDone / extractSeconds : 0.0;
  std::vector<std::string> first, rest;
  first.push_back("new " + std::to_string(c.newCount));
  if (c.failedCount > 0) first.push_back("failed " + std::to_string(c.failedCount));
  if (rate > 0 && left > 0) first.push_back("ETA " + FormatTimeText(static_cast<std::int64_t>(left / rate + 0.5)));
  if (rate > 0) {
    std::snprintf(buf, sizeof buf, rate < 10 ? "%.1f files/s" : "%.0f files/s", rate);
    rest.push_back(buf);
  }
  rest.push_back("there " + std::to_string(c.existingCount));
  rest.push_back(FormatTimeText(static_cast<std::int64_t>(seconds)));
  std::string text = std::to_string(c.filesDone) + "/" + std::to_string(c.filesScanned);
  for (const std::string& part : first)
    if (text.size() + 2 + part.size() <= room) text += "  " + part;
  // The bar: "[", the marks, "] "; at least 10 marks or none, at most 30.
  constexpr std::size_t kMinBar = 10, kMaxBar = 30, kBarFrame = 3;
  const std::size_t barRoom = room >= text.size() + kBarFrame + kMinBar ? kBarFrame + kMinBar : 0;
  for (const std::string& part : rest)
    if (text.size() + barRoom + 2 + part.size() <= room) text += "  " + part;
  if (barRoom) {
    const std::size_t width = std::min(kMaxBar, room - text.size() - kBarFrame);
    const std::size_t filled =
        c.filesScanned > 0 ? static_cast<std::size_t>(static_cast<std::int64_t>(c.filesDone) * width / c.filesScanned)
                           : width;
    text = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + text;
  }
  return fitted(text);
}

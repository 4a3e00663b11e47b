#include "cli/desktop_report.h"

#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "cli/display_text.h"
#include "job/output_names.h"
#include "job/progress_text.h"
#include "platform/desktop_session.h"

namespace fs = std::filesystem;

namespace {

bool IsNotificationId(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

// Appends the run's failures to the log; false when it cannot be written.
bool LogFailures(const std::string& path, const std::vector<FileFailure>& failures) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  if (fs::file_size(path, ec) > kMaxFailureLogBytes && !ec) fs::rename(path, path + ".1", ec);
  std::ofstream log(path, std::ios::app | std::ios::binary);
  if (!log) return false;
  char when[64] = "";
  std::time_t now = std::time(nullptr);
  if (const std::tm* t = std::localtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", t);
  log << when << "  " << failures.size() << (failures.size() == 1 ? " file" : " files") << " failed\n";
  for (const FileFailure& f : failures) log << FailureText(f) << "\n";
  log << "\n";
  log.flush();
  return static_cast<bool>(log);
}

}  // namespace

std::string FailureText(const FileFailure& f) {
  std::string line = DisplayPath(f.rawPath) + ": " + FailureReasonText(f.reason);
  if (f.reason == FailureReason::kFolderFailed) line += " " + DisplayPath(GetNamePart(f.outputPath));
  if (!f.detail.empty()) line += ": " + DisplayText(f.detail);
  if (!f.outputPath.empty()) line += " (" + DisplayPath(f.outputPath) + ")";
  return line;
}

std::string MarkupEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

std::unique_ptr<DesktopReport> DesktopReport::ForThisRun(bool notify) {
  if (!DesktopSessionWithoutTerminal()) return nullptr;
  auto report = std::make_unique<DesktopReport>();
  report->notifySend_ = notify ? FindOnPath("notify-send") : std::string();
  report->notify_ = !report->notifySend_.empty();
  return report;
}

std::string DesktopReport::FailureLogPath() {
  std::string state = XdgBaseFolder("XDG_STATE_HOME", ".local/state");
  return state.empty() ? std::string() : state + "/veltrano/failures.log";
}

void DesktopReport::Notify(const std::string& title, const std::string& body, int percent) {
  if (!notify_) return;
  std::vector<std::string> args = {"--app-name=Veltrano", "--icon=image-x-generic"};
  if (percent >= 0) args.push_back("--hint=int:value:" + std::to_string(percent));
  if (canReplace_) {
    args.push_back("--print-id");
    if (!id_.empty()) args.push_back("--replace-id=" + id_);
  }
  args.push_back(title);
  // Notification bodies may carry markup: paths keep their <, > and &.
  args.push_back(MarkupEscaped(body));
  std::string out;
  int rc = RunProgram(notifySend_, args, &out);
  if (canReplace_ && (rc != 0 || !IsNotificationId(Trimmed(out)))) {
    // An older notify-send without -p/-r: from now on, one notification at
    // the end only.
    canReplace_ = false;
    id_.clear();
    if (rc != 0) {
      std::vector<std::string> plain;
      for (const std::string& a : args)
        if (a != "--print-id" && a.rfind("--replace-id=", 0) != 0) plain.push_back(a);
      RunProgram(notifySend_, plain, nullptr);
    }
    return;
  }
  if (canReplace_) id_ = Trimmed(out);
}

void DesktopReport::Started() {
  last_ = std::chrono::steady_clock::now();
  Notify("Veltrano", "Extracting JPEG previews...", -1);
}

void DesktopReport::Progress(const JobCounters& c, std::chrono::steady_clock::time_point now) {
  if (!notify_ || !canReplace_ || now - last_ < kNotifyInterval) return;
  last_ = now;
  int percent = c.filesScanned > 0 ? static_cast<int>(static_cast<std::int64_t>(c.filesDone) * 100 / c.filesScanned)
                                   : -1;
  const std::string body = "RAW files done: " + std::to_string(c.filesDone) + " of " + std::to_string(c.filesScanned) +
                           "\nNew: " + std::to_string(c.newCount) + "\nAlready there: " +
                           std::to_string(c.existingCount) + "\nFailed: " + std::to_string(c.failedCount);
  Notify("Veltrano", c.filesScanned < 0 ? "Looking for RAW files..." : body, percent);
}

void DesktopReport::Finished(const std::string& summary, const std::vector<FileFailure>& failures,
                             bool cancelled) {
  std::string body = Trimmed(summary);
  std::string title = cancelled ? "Veltrano: cancelled" : "Veltrano: JPEG previews extracted";
  if (!failures.empty()) {
    title = "Veltrano: " + std::to_string(failures.size()) + (failures.size() == 1 ? " file" : " files") + " failed";
    const std::string log = FailureLogPath();
    if (!log.empty() && LogFailures(log, failures))
      body += "\nThe failures are listed in " + log;
    else
      body += "\nThe failures could not be logged" + (log.empty() ? std::string() : " to " + log);
  }
  Notify(title, body, -1);
}

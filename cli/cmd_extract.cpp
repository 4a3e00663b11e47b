// `veltrano [extract] [OPTIONS] PATH...`: runs the extraction job on files
// and folders with the settings from the settings file, overridden by the
// options for this run.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/desktop_report.h"
#include "cli/display_text.h"
#include "job/progress_text.h"
#include "job/extraction_job.h"
#include "job/output_names.h"
#include "platform/temp_names.h"
#include "platform/terminal.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"

#ifdef _WIN32
#include <io.h>
#define VELTRANO_ISATTY(f) _isatty(_fileno(f))
#define VELTRANO_WRITE_STDERR(p, n) _write(2, p, static_cast<unsigned>(n))
#else
#include <unistd.h>
#define VELTRANO_ISATTY(f) isatty(fileno(f))
#define VELTRANO_WRITE_STDERR(p, n) static_cast<void>(::write(2, p, n))
#endif

namespace {

// How often the live progress line is redrawn and the interrupt flag read.
constexpr auto kProgressTick = std::chrono::milliseconds(100);
// Upper bound for --jobs: more workers than this only add contention.
constexpr unsigned kMaxJobs = 256;

std::atomic<bool> g_interrupted{false};

// The first Ctrl-C asks the job to stop after the current file; a second one
// ends the process at once, removing the temporaries still being written
// (only calls that are safe in a signal handler).
extern "C" void OnInterrupt(int) {
  if (!g_interrupted.exchange(true)) return;
  RemoveTemporariesInFlight();
  static const char kMessage[] = "\nveltrano: interrupted\n";
  VELTRANO_WRITE_STDERR(kMessage, sizeof kMessage - 1);
  std::_Exit(kExitCancelled);
}

struct ExtractArgs {
  std::vector<std::string> paths;
  std::string sizes, exif, output;
  std::optional<int> maxWidth, maxHeight, quality;
  bool suffix = false, noSuffix = false, subfolders = false, beside = false;
  bool save = false, recursive = false, dryRun = false, json = false, quiet = false, noKeepTimes = false;
  bool noSettings = false;
  unsigned jobs = 0;
};

void LoadUserSettings() {
  LoadSettingsFile(kSettingsMagic, NativeFromAscii("Kerbelin"), NativeFromAscii("VLTR"), NativeFromAscii("VLTR.cfg"));
}

// Draws the live progress line over the previous one: cleared to the last
// column but one, then drawn again so the cursor stands right after the text
// (where the terminal echoes a ^C, which the next drawing clears).
void DrawProgressLine(const std::string& line, int columns) {
  const std::size_t clear = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  std::string out = "\r" + line;
  if (line.size() < clear) out += std::string(clear - line.size(), ' ') + "\r" + line;
  std::fputs(out.c_str(), stderr);
  std::fflush(stderr);
}

// The width the progress line is fitted to: the terminal's, or 80 when it
// does not say.
int ProgressColumns() {
  const int columns = TerminalColumns();
  return columns > 0 ? columns : 80;
}

// The path made absolute, without "." components or doubled separators, so
// that messages and JSON name /photos/IMG_1.CR2, never /photos/./IMG_1.CR2.
// ".." stays: after a link it does not simply cancel the name before it.
NativePath AbsolutePath(const std::string& given) {
  namespace fs = std::filesystem;
  const fs::path path(native_from_utf8(given));
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  fs::path out;
  for (const fs::path& part : absolute)
    if (part != fs::path(".")) out /= part;
  return out.native();
}

// The folder of --output, absolute and without a trailing separator. It is
// a folder, or is made by the run (its parent must then be one: a mistyped
// path is not grown into a tree); anything else is a usage error.
std::optional<NativePath> OutputFolderArgument(const std::string& given) {
  namespace fs = std::filesystem;
  fs::path folder(AbsolutePath(given));
  if (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  const char* problem = nullptr;
  if (fs::exists(status) && !fs::is_directory(status))
    problem = "not a folder";
  else if (!fs::exists(status) && !fs::is_directory(folder.parent_path(), ec))
    problem = "neither it nor its parent folder exists";
  if (problem == nullptr) return folder.native();
  std::fprintf(stderr, "veltrano: --output %s: %s\n", DisplayPath(folder.native()).c_str(), problem);
  return std::nullopt;
}

int RunExtract(const ExtractArgs& args) {
  JobOptions options;
  if (!args.output.empty()) {
    const auto folder = OutputFolderArgument(args.output);
    if (!folder) return kExitUsage;
    options.outputFolder = *folder;
  }
  // --no-settings: the defaults, whatever the settings file holds (it is not
  // even read), so a script gets the same results on every machine.
  if (!args.noSettings) LoadUserSettings();
  options.settings.LoadFromStore();
  SettingsRecord& s = options.settings;
  if (!args.sizes.empty()) s.makeSmallerCopies = args.sizes == "smaller" ? 1 : 0;
  // A box asks for scaled copies, so it implies --sizes smaller; given with
  // --sizes native in the same command it cannot apply, and the user is told.
  const bool box = args.maxWidth || args.maxHeight;
  if (box && args.sizes.empty()) s.makeSmallerCopies = 1;
  if (box && args.sizes == "native")
    std::fprintf(stderr, "veltrano: --max-width and --max-height are ignored: --sizes native makes no scaled copies\n");
  if (args.maxWidth) s.maxWidth = *args.maxWidth;
  if (args.maxHeight) s.maxHeight = *args.maxHeight;
  if (args.quality) s.scaledQuality = *args.quality;
  if (args.suffix || args.noSuffix) s.addSuffix = args.suffix;
  if (args.subfolders || args.beside) s.useSubfolders = args.subfolders;
  if (!args.exif.empty())
    s.exifMode = exif_mode_setting(args.exif == exif_mode_name(ExifMode::full) ? ExifMode::full : ExifMode::basic);
  // A dry run changes nothing, the settings file included.
  if (args.save && args.dryRun)
    std::fprintf(stderr, "veltrano: --save is ignored in a dry run: the settings file is left as it is\n");
  if (args.save && !args.dryRun) {
    // With --no-settings the file was not read: it is read now, so that
    // what it holds beyond these choices stays.
    if (args.noSettings) LoadUserSettings();
    s.SaveToStore();
    if (!SaveSettingsToPath(SettingsFilePath()))
      std::fprintf(stderr, "veltrano: the settings could not be saved to %s\n",
                   DisplayPath(SettingsFilePath()).c_str());
  }
  options.recursive = args.recursive;
  options.dryRun = args.dryRun;
  options.keepTimes = !args.noKeepTimes;
  unsigned cores = std::thread::hardware_concurrency();
  options.workers = args.jobs ? args.jobs : (cores ? cores : 1);

  std::vector<NativePath> selection;
  for (const std::string& p : args.paths) selection.push_back(AbsolutePath(p));

  g_interrupted = false;
  auto previous = std::signal(SIGINT, OnInterrupt);

  const bool live = !args.quiet && !args.json && VELTRANO_ISATTY(stderr);
  // Started from a file manager: no terminal, the desktop is told instead.
  const auto desktop = DesktopReport::ForThisRun(!args.quiet && !args.json);
  if (desktop) desktop->Started();
  JobProgress progress;
  const auto start = std::chrono::steady_clock::now();
  std::mutex doneMutex;
  std::condition_variable doneSignal;
  bool finished = false;
  std::exception_ptr jobError;
  std::thread worker([&] {
    try {
      RunExtraction(progress, selection, options);
    } catch (...) {
      jobError = std::current_exception();  // handed to the main thread below
    }
    std::lock_guard<std::mutex> lock(doneMutex);
    finished = true;
    doneSignal.notify_all();
  });
  bool cancelSent = false;
  bool drawn = false;
  int columns = 0;
  std::optional<std::chrono::steady_clock::time_point> walkEnd;  // when the count of RAW files came
  if (live) WatchTerminalSize();
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(doneMutex);
      if (doneSignal.wait_for(lock, kProgressTick, [&] { return finished; })) break;
    }
    if (g_interrupted.load() && !cancelSent) {
      progress.RequestCancel();
      cancelSent = true;
    }
    if (desktop) desktop->Progress(progress.Snapshot(), std::chrono::steady_clock::now());
    if (live) {
      const auto now = std::chrono::steady_clock::now();
      const JobCounters snapshot = progress.Snapshot();
      if (snapshot.filesScanned >= 0 && !walkEnd) walkEnd = now;
      if (TerminalResized()) columns = ProgressColumns();
      const double secs = std::chrono::duration<double>(now - start).count();
      const double extracting = walkEnd ? std::chrono::duration<double>(now - *walkEnd).count() : 0.0;
      DrawProgressLine(ProgressLineText(snapshot, secs, extracting, columns), columns);
      drawn = true;
    }
  }
  worker.join();
  std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
  // The line goes, and with it any ^C the terminal echoed after it.
  if (live && drawn) std::fprintf(stderr, "\r%s\r", std::string(static_cast<std::size_t>(std::max(columns - 1, 0)), ' ').c_str());
  if (jobError) std::rethrow_exception(jobError);

  const JobCounters c = progress.Snapshot();
  const bool cancelled = !c.jobDone;
  const auto failures = progress.Failures();
  const auto outputs = progress.Outputs();
  const double runSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The loop's own time when it completed; the whole run when cancelled.
  const double seconds = cancelled ? runSeconds : static_cast<double>(c.elapsedMilliseconds) / 1000.0;
  const double average = c.newCount > 0 ? seconds / c.newCount : 0.0;

  for (const FileFailure& f : failures) std::fprintf(stderr, "veltrano: %s\n", FailureText(f).c_str());

  if (c.foldersNotEntered > 0 && !args.quiet && !args.json)
    std::fprintf(stderr, "veltrano: %d sub-folder%s not entered (-r also extracts from sub-folders)\n",
                 c.foldersNotEntered, c.foldersNotEntered == 1 ? " was" : "s were");

  if (args.json) {
    nlohmann::json j;
    j["files_scanned"] = std::max(c.filesScanned, 0);
    j["new"] = c.newCount;
    j["existing"] = c.existingCount;
    j["total"] = c.newCount + c.existingCount;
    j["failed"] = c.failedCount;
    j["not_raw"] = c.notRawCount;
    j["without_preview"] = c.noPreviewCount;
    j["outputs_written"] = c.outputsWritten;
    j["outputs_existing"] = c.outputsExisting;
    j["folders_not_entered"] = c.foldersNotEntered;
    j["elapsed_seconds"] = seconds;
    j["average_seconds_per_file"] = average;
    j["cancelled"] = cancelled;
    j["dry_run"] = args.dryRun;
    j["workers"] = options.workers;
    j["outputs"] = nlohmann::json::array();
    for (const OutputRecord& o : outputs) {
      nlohmann::json e;
      SetJsonPath(e, "raw", o.rawPath);
      SetJsonPath(e, "output", o.outputPath);
      e["scaled"] = o.scaled;
      if (o.scaled) e["width"] = o.width, e["height"] = o.height;
      // Every output of every RAW file: what this run wrote (in a dry run:
      // would write), and what was there already and was left alone.
      e["status"] = o.existed ? "existing" : args.dryRun ? "would_write" : "written";
      j["outputs"].push_back(e);
    }
    j["failures"] = nlohmann::json::array();
    for (const FileFailure& f : failures) {
      nlohmann::json e;
      SetJsonPath(e, "path", f.rawPath);
      SetJsonPath(e, "output", f.outputPath);
      e["reason"] = FailureReasonText(f.reason);
      if (!f.detail.empty()) e["detail"] = ValidUtf8(f.detail);
      j["failures"].push_back(e);
    }
    std::printf("%s\n", j.dump(2).c_str());
  } else {
    if (args.dryRun)
      for (const OutputRecord& o : outputs)
        if (!o.existed) std::printf("would write %s\n", DisplayPath(o.outputPath).c_str());
    if (!args.quiet) {
      std::printf("%s", SummaryText(c, seconds, average, cancelled, args.dryRun).c_str());
    }
  }
  std::fflush(stdout);
  if (desktop) desktop->Finished(SummaryText(c, seconds, average, cancelled, args.dryRun), failures, cancelled);
  if (cancelled) return kExitCancelled;
  return failures.empty() ? kExitOk : kExitFailed;
}

}  // namespace

void add_extract_command(CLI::App& app, int* exit_code) {
  auto args = std::make_shared<ExtractArgs>();
  CLI::App* cmd = app.add_subcommand("extract", "Extract the embedded JPEG previews (the default command)");
  cmd->add_option("PATH", args->paths, "RAW files and folders")->required();
  cmd->add_option("--sizes", args->sizes, "native: full-size JPEGs only; smaller: also scaled copies")
      ->check(CLI::IsMember({"native", "smaller"}));
  cmd->add_option("--max-width", args->maxWidth, "Width of the box a scaled copy fits (implies --sizes smaller)")
      ->check(WholeNumber(1, kMaxBoxSide));
  cmd->add_option("--max-height", args->maxHeight, "Height of the box a scaled copy fits (implies --sizes smaller)")
      ->check(WholeNumber(1, kMaxBoxSide));
  cmd->add_option("--quality", args->quality,
                  "JPEG quality of scaled copies, 1 to 100 (default " + std::to_string(kDefaultScaledQuality) + ")")
      ->check(WholeNumber(kMinScaledQuality, kMaxScaledQuality))
      ->type_name("N");
  auto* suffix = cmd->add_flag("--suffix", args->suffix, "Output names carry the _VLTR suffix");
  cmd->add_flag("--no-suffix", args->noSuffix, "Output names without the suffix")->excludes(suffix);
  auto* sub = cmd->add_flag("--subfolders", args->subfolders, "Outputs go into sub-folders next to the RAW files");
  cmd->add_flag("--beside", args->beside, "Outputs go beside the RAW files")->excludes(sub);
  cmd->add_option("--exif", args->exif,
                  kExifOptionHelp)
      ->check(CLI::IsMember({"basic", "full"}));
  cmd->add_flag("--no-keep-times", args->noKeepTimes, kNoKeepTimesHelp);
  cmd->add_option("-o,--output", args->output,
                  "Write under DIR instead of beside the RAW files, mirroring the given folders")
      ->type_name("DIR");
  cmd->add_flag("--save", args->save, "Also store these choices in the settings file");
  cmd->add_flag("--no-settings", args->noSettings,
                "Use the defaults and the options given, not the settings file (see `veltrano settings`)");
  cmd->add_flag("-r,--recursive", args->recursive, "Descend into sub-folders of the given folders");
  cmd->add_option("-j,--jobs", args->jobs, "Parallel workers (default: the number of cores)")
      ->check(WholeNumber(1, kMaxJobs));
  cmd->add_flag("--dry-run", args->dryRun, "List what would be written, write nothing");
  cmd->add_flag("--json", args->json, "Print a machine-readable summary");
  cmd->add_flag("-q,--quiet", args->quiet, "No progress and no summary");
  cmd->callback([args, exit_code] { *exit_code = RunExtract(*args); });
}

#include "job/extraction_job.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "job/output_names.h"
#include "job/output_names_platform.h"
#include "platform/atomic_write.h"
#include "platform/file_times.h"
#include "platform/folder_entries.h"
#include "platform/native_file.h"
#include "platform/temp_names.h"
#include "probe/probe.h"
#include "ui/fit_within.h"
#include "ui/picture.h"

namespace {

// Deepest folder nesting a recursive walk enters; deeper trees are almost
// certainly link loops or hostile, and the walk's stack must stay bounded.
constexpr int kMaxWalkDepth = 64;

// ---------------------------------------------------------------------------
// Preview buffers

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};

struct Preview {
  std::unique_ptr<unsigned char, FreeDeleter> data;
  std::size_t length = 0;
  bool tried = false;
  std::optional<FailureReason> failure;  // set when tried and nothing came back
  std::string why;                       // the system's reason for kUnreadable

  bool ok() const { return data != nullptr; }
};

// Why a file cannot be read; empty when it can.
std::string WhyUnreadable(const NativePath& path) {
  std::error_code ec;
  if (NativeFile::open_for_reading(path, &ec)) return {};
  return ec ? ec.message() : "not a regular file";
}

void ExtractPreview(const NativePath& raw, Preview& preview, ExifMode mode) {
  preview.tried = true;
  unsigned char* buffer = nullptr;
  std::uint32_t length = 0, rotated = 0;
  if (probe_extract_jpeg_preview(raw, kVeltranoSoftware, &buffer, &length, &rotated, mode) && buffer && length > 0) {
    preview.data.reset(buffer);
    preview.length = length;
    preview.failure.reset();
    return;
  }
  std::free(buffer);
  preview.data.reset();
  preview.length = 0;
  preview.why = WhyUnreadable(raw);
  preview.failure = preview.why.empty() ? FailureReason::kNoPreview : FailureReason::kUnreadable;
}

// Scales the preview to width x height in memory and writes the result as a
// new file at target (through the one temporary name of the atomic write).
// The picture may hold the preview already, loaded when its size was read.
bool ScaleAndWrite(Picture& picture, const Preview& preview, std::int32_t width, std::int32_t height, float quality,
                   const NativePath& target, const FileTimes* times, std::error_code* error) {
  if (picture.empty() && !picture.LoadFromMemory(preview.data.get(), preview.length)) return false;
  picture.ScaleTo(width, height);
  std::vector<std::uint8_t> scaled;
  if (!picture.SaveToMemory(u"image/jpeg", quality, scaled)) return false;
  picture.Release();
  return WriteFileNoReplace(target, scaled.data(), scaled.size(), times, error);
}

// ---------------------------------------------------------------------------
// Walk

bool CancelRequested(JobHost& host) {
  JobLock lock(host);
  return host.Counters().cancelRequested;
}

// One step of the walk: the number of files listed so far is published, and
// whether to stop is read, under one hold of the lock.
bool WalkStep(JobHost& host, std::size_t filesFound) {
  JobLock lock(host);
  host.Counters().filesFound = static_cast<std::int32_t>(filesFound);
  return host.Counters().cancelRequested;
}

// Lists the files to test under one selected path, in walk order. Folder
// entries are taken in name order (what NTFS hands out; readdir order is
// arbitrary, and a fixed order decides output-name collisions the same way
// on every run).
// Only regular files are listed (named pipes, sockets and devices are
// never opened). A folder that cannot be listed is reported as a failure.
// True for the names of the job's own output folders (outputs, and
// outputs_800 for the scaled copies), which hold nothing to extract.
bool IsOutputFolderName(const NativePath& name, const NativePath& outputs) {
  if (outputs.empty() || name.compare(0, outputs.size(), outputs) != 0) return false;
  if (name.size() == outputs.size()) return true;
  if (name[outputs.size()] != '_' || name.size() == outputs.size() + 1) return false;
  for (std::size_t k = outputs.size() + 1; k < name.size(); ++k)
    if (name[k] < '0' || name[k] > '9') return false;
  return true;
}

// Sub-folders not entered (without recursion) add to notEntered, except the
// output folders (named outputs).
void ListFolder(JobHost& host, const NativePath& folder, bool recursive, int depth, std::vector<NativePath>& out,
                bool& stop, std::int32_t& notEntered, const NativePath& outputs) {
  NativePath base = folder;
  if (base.empty() || base.back() != kPathSeparator) base.push_back(kPathSeparator);
  std::error_code ec;
  std::vector<FolderEntry> entries = ListFolderEntries(base, ec);
  if (ec) {
    JobLock lock(host);
    host.AddFailure({0, folder, NativePath(), FailureReason::kUnlistable, ec.message()});
    ++host.Counters().failedCount;
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  for (const FolderEntry& e : entries) {
    if (stop) return;
    if (e.directory) {
      if (!recursive)
        notEntered += IsOutputFolderName(e.name, outputs) ? 0 : 1;
      else if (!e.link && depth < kMaxWalkDepth)
        ListFolder(host, base + e.name, true, depth + 1, out, stop, notEntered, outputs);
    } else if (e.regular) {
      out.push_back(base + e.name);
    }
    if (WalkStep(host, out.size())) stop = true;
  }
}

// Runs fn(i) for every i in [0, n) on up to `workers` threads; fn is called
// from the calling thread when one worker suffices.
template <typename Fn>
void ParallelFor(std::size_t n, unsigned workers, Fn fn) {
  unsigned threads = static_cast<unsigned>(std::min<std::size_t>(std::max(1u, workers), n));
  if (threads <= 1) {
    for (std::size_t i = 0; i < n; ++i)
      if (!fn(i)) break;
    return;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  auto body = [&] {
    while (!stop.load()) {
      std::size_t i = next.fetch_add(1);
      if (i >= n) break;
      if (!fn(i)) stop = true;
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(body);
  for (auto& t : pool) t.join();
}

// A RAW file to extract, and the folder its outputs go to under an output
// folder (relative to it; used only when the job has one).
struct Candidate {
  NativePath raw;
  NativePath mirror;
};

// The walk: lists every file to test under the selection, in walk order,
// then tests them (in parallel: each test is a whole probe of the file).
// Files named in the selection that cannot be read are reported.
std::vector<Candidate> CollectCandidates(JobHost& host, const std::vector<NativePath>& selection, bool recursive,
                                         unsigned workers, const NativePath& outputs) {
  std::vector<bool> isFolder;
  for (const NativePath& path : selection) isFolder.push_back(IsDirectoryPath(path));
  const std::vector<NativePath> names = MirrorFolderNames(selection, isFolder);
  std::vector<NativePath> files, mirrors;
  std::vector<bool> selectedFile;  // tested file came straight from the selection
  bool stop = false;
  std::int32_t notEntered = 0;
  std::set<NativePath> walked;  // folders given again are walked once
  for (std::size_t i = 0; i < selection.size(); ++i) {
    if (isFolder[i]) {
      if (stop) continue;
      NativePath key = selection[i];
      while (key.size() > 1 && key.back() == kPathSeparator) key.pop_back();
      if (!walked.insert(key).second) continue;
      const std::size_t first = files.size();
      ListFolder(host, selection[i], recursive, 0, files, stop, notEntered, outputs);
      selectedFile.resize(files.size(), false);
      // The file's folder below the selected one, mirrored under its name.
      const std::size_t base = JoinPath(selection[i], NativePath()).size();
      for (std::size_t k = first; k < files.size(); ++k) {
        NativePath below;
        GetFolderPart(files[k].substr(base), below);
        mirrors.push_back(JoinPath(names[i], below));
      }
    } else {
      files.push_back(selection[i]);
      selectedFile.push_back(true);
      mirrors.push_back(names[i]);
    }
  }
  // A file met twice (named again, or inside a folder given with one of its
  // sub-folders) is tested and extracted once, at its first place.
  // Named directly anywhere, it is reported as a file named.
  {
    std::map<NativePath, std::size_t> seen;  // path -> its place in the kept list
    std::size_t kept = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (auto [it, fresh] = seen.emplace(files[i], kept); !fresh) {
        if (selectedFile[i]) selectedFile[it->second] = true;
        continue;
      }
      if (kept != i) {
        files[kept] = std::move(files[i]);
        mirrors[kept] = std::move(mirrors[i]);
        selectedFile[kept] = selectedFile[i];
      }
      ++kept;
    }
    files.resize(kept);
    mirrors.resize(kept);
    selectedFile.resize(kept);
  }
  WalkStep(host, files.size());
  // A file named in the selection that gives nothing is reported with the
  // reason; files met in folders that are no RAW files are passed over.
  // Files named .jpg and the like are never read (an output folder holds
  // nothing else); the others are probed once each.
  std::vector<std::optional<ProbeFileKind>> kinds(files.size());
  std::vector<std::optional<FailureReason>> refused(files.size());
  std::vector<std::string> why(files.size());  // the system's reason for kUnreadable
  ParallelFor(files.size(), workers, [&](std::size_t i) {
    // Testing a file is a whole probe: a cancel is seen between files.
    if (CancelRequested(host)) return false;
    if (!HasJpegExtension(files[i])) kinds[i] = probe_file_kind(files[i]);
    if (kinds[i] != ProbeFileKind::raw_with_preview && selectedFile[i]) {
      why[i] = WhyUnreadable(files[i]);
      refused[i] = !why[i].empty()                                ? FailureReason::kUnreadable
                   : !kinds[i]                                    ? FailureReason::kJpegFile
                   : kinds[i] == ProbeFileKind::raw_without_preview ? FailureReason::kRawWithoutPreview
                                                                  : FailureReason::kNotRaw;
    }
    return true;
  });
  std::vector<Candidate> candidates;
  std::int32_t notRaw = 0, noPreview = 0, refusedCount = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (kinds[i] == ProbeFileKind::raw_with_preview) candidates.push_back({files[i], mirrors[i]});
    if (kinds[i] == ProbeFileKind::not_raw) ++notRaw;
    if (kinds[i] == ProbeFileKind::raw_without_preview) ++noPreview;
    if (refused[i]) {
      ++refusedCount;
      JobLock lock(host);
      host.AddFailure({0, files[i], NativePath(), *refused[i], why[i]});
    }
  }
  JobLock lock(host);
  host.Counters().notRawCount = notRaw;
  host.Counters().noPreviewCount = noPreview;
  host.Counters().failedCount += refusedCount;
  host.Counters().foldersNotEntered = notEntered;
  return candidates;
}

// ---------------------------------------------------------------------------
// Extraction engine

// Orders the decisions of the workers: candidate i decides which outputs it
// owns only after every earlier candidate has decided. Outputs being written
// outside that order are claimed; a later candidate that meets a claim waits
// until it is settled and then sees the file on disk (or its absence).
class OutputLedger {
 public:
  void WaitTurn(std::size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return turn_ == i; });
  }
  void EndTurn() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++turn_;
    cv_.notify_all();
  }

  struct Planned {
    std::int32_t width = 0, height = 0;  // frame size of a planned output (dry run)
  };

  enum class Presence { kAbsent, kOnDisk, kPlanned };

  // Called during a turn: whether the path is taken, by a file on disk (once
  // any claim on it has settled) or by an output planned in this dry run.
  Presence Exists(const NativePath& path, Planned* planned = nullptr) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return !inflight_.count(path); });
      auto it = planned_.find(path);
      if (it != planned_.end()) {
        if (planned) *planned = it->second;
        return Presence::kPlanned;
      }
    }
    NativePath unused;
    return OutputExists(NativePath(), path, unused) ? Presence::kOnDisk : Presence::kAbsent;
  }

  void Claim(const NativePath& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    inflight_[path] = true;
  }
  void Settle(const NativePath& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    inflight_.erase(path);
    cv_.notify_all();
  }
  void Plan(const NativePath& path, Planned p) {
    std::lock_guard<std::mutex> lock(mutex_);
    planned_[path] = p;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::size_t turn_ = 0;
  std::map<NativePath, bool> inflight_;
  std::map<NativePath, Planned> planned_;
};

struct Engine {
  Engine(JobHost& h, const JobOptions& o, const std::vector<Candidate>& c) : host(h), options(o), candidates(c) {}

  JobHost& host;
  const JobOptions& options;
  const std::vector<Candidate>& candidates;
  OutputLedger ledger;
  std::atomic<bool> cancelled{false};

  // The RAW file's times for its outputs (read into slot), or null when
  // they are not kept.
  const FileTimes* RawTimes(const NativePath& raw, FileTimes& slot) const {
    if (!options.keepTimes) return nullptr;
    slot = ReadFileTimes(raw);
    return &slot;
  }

  struct Work;
  void Fail(Work& work, const NativePath& output, FailureReason reason, std::string detail = {});
  void Record(const Work& work, const NativePath& output, bool scaled, bool existed, std::int32_t w = 0,
              std::int32_t h = 0);

  // Output sub-folders this run created. Those it wrote nothing into are
  // taken away again at the end (a folder someone else filled meanwhile
  // stays: only empty folders are removed).
  std::mutex madeMutex;
  std::vector<NativePath> madeFolders;

  void RemoveUnusedFolders() {
    std::lock_guard<std::mutex> lock(madeMutex);
    for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it) RemoveFolderIfEmpty(*it);
  }

  // Folders this run writes into, each cleared of stale temporaries once.
  std::mutex cleanedMutex;
  std::set<NativePath> cleaned;

  // Before the first write into a folder: temporaries that a killed run
  // left there are removed (only those; see RemoveStaleTemporaries).
  void CleanOnce(const NativePath& folder) {
    {
      std::lock_guard<std::mutex> lock(cleanedMutex);
      if (!cleaned.insert(folder).second) return;
    }
    RemoveStaleTemporaries(folder);
  }

  // Output folder for a pattern; creates a missing sub-folder unless this
  // is a dry run, which checks instead that it could be made, or written
  // into. False, with `why` set, when it can be neither found nor created
  // (or written into, in a dry run); `folder` then names it.
  bool OutputFolder(const NativePath& rawFolder, const NativePath& pattern, std::int32_t w, std::int32_t h,
                    NativePath& folder, std::string& why) {
    folder = rawFolder;
    if (options.dryRun) {
      NativePath checked;
      if (pattern.empty()) return CouldEnsureFolder(rawFolder, NativePath(), checked, &why);
      return CouldEnsureFolder(rawFolder, ExpandFolderPattern(pattern, w, h), folder, &why);
    }
    if (!pattern.empty()) {
      bool made = false;
      if (!EnsureFolder(rawFolder, ExpandFolderPattern(pattern, w, h), folder, &why, &made)) return false;
      if (made) {
        std::lock_guard<std::mutex> lock(madeMutex);
        madeFolders.push_back(folder);
      }
    }
    CleanOnce(folder);
    return true;
  }

  // What one candidate's steps hand on to each other.
  struct Work {
    explicit Work(std::size_t i, const Candidate& c) : index(i), raw(c.raw), mirror(c.mirror) {}
    std::size_t index;
    const NativePath& raw;
    const NativePath& mirror;
    NativePath rawFolder, rawName;
    NativePath outputBase;  // the RAW file's folder, or its mirror under the output folder
    bool named = false;     // the RAW path has a folder part
    bool folderOk = false;  // the native output's folder is there (or planned)
    NativePath nativeFolder;  // when not folderOk: the folder that could not be made
    std::string folderWhy;    // and why
    NativePath nativePath, scaledPath;
    Preview preview;
    Picture picture;  // the preview, when it was loaded to read its size
    OutputLedger::Presence native = OutputLedger::Presence::kAbsent;
    OutputLedger::Planned planned;  // frame size of a native output planned in this dry run
    bool written1 = false, existed1 = false, written2 = false, existed2 = false;
    bool scaleNeeded = false, resize = false;
    bool failed = false;  // at least one failure was reported for this file
    std::int32_t w = 0, h = 0;  // size of the scaled copy
  };

  // The folder the output sub-folders go under: the RAW file's own, or its
  // mirror under the output folder, made with its parents there unless this
  // is a dry run. False, with the folder that could not be made and why.
  bool OutputBase(Work& work) {
    if (options.outputFolder.empty()) {
      work.outputBase = work.rawFolder;
      return true;
    }
    work.outputBase = JoinPath(options.outputFolder, work.mirror);
    if (options.dryRun) return CouldEnsureFolder(options.outputFolder, work.mirror, work.nativeFolder, &work.folderWhy);
    return EnsureFolderChain(options.outputFolder, work.mirror, work.nativeFolder, &work.folderWhy);
  }

  // Outside the turn: names and folders, and the extraction itself unless
  // the native output is there already.
  void PrepareNative(Work& work) {
    const SettingsRecord& s = options.settings;
    work.named = GetFolderPart(work.raw, work.rawFolder);
    work.folderOk = work.named && OutputBase(work) &&
                    OutputFolder(work.outputBase, s.FolderPattern(false), 0, 0, work.nativeFolder, work.folderWhy);
    work.rawName = GetNamePart(work.raw);
    if (work.folderOk) {
      work.nativePath = JoinPath(work.nativeFolder, ExpandFilePattern(s.FilePattern(false), work.rawName, 0, 0));
      NativePath unused;
      if (!OutputExists(NativePath(), work.nativePath, unused))
        ExtractPreview(work.raw, work.preview, options.settings.Exif());
    }
  }

  // In the turn: the native output is written, or found there already.
  void WriteNative(Work& work) {
    FileTimes times;
    using Presence = OutputLedger::Presence;
    work.native = ledger.Exists(work.nativePath, &work.planned);
    work.existed1 = work.native != Presence::kAbsent;
    if (work.existed1) {
      Record(work, work.nativePath, false, true);
      return;
    }
    if (!work.preview.tried) ExtractPreview(work.raw, work.preview, options.settings.Exif());
    if (!work.preview.ok()) {
      Fail(work, work.nativePath, *work.preview.failure, work.preview.why);
    } else if (options.dryRun) {
      JpegFrameSize(work.preview.data.get(), work.preview.length, work.planned.width, work.planned.height);
      ledger.Plan(work.nativePath, work.planned);
      work.native = Presence::kPlanned;
      work.written1 = true;
    } else if (std::error_code error; WriteFileNoReplace(work.nativePath, work.preview.data.get(),
                                                          work.preview.length, RawTimes(work.raw, times), &error)) {
      work.written1 = true;
    } else if (ledger.Exists(work.nativePath) != Presence::kAbsent) {
      work.existed1 = true;  // appeared meanwhile: never replaced
      Record(work, work.nativePath, false, true);
    } else {
      Fail(work, work.nativePath, FailureReason::kWriteFailed, error.message());
    }
    if (work.written1) Record(work, work.nativePath, false, false);
  }

  // In the turn, after the native output: whether a scaled copy is to be
  // made, its size and path; a copy to make is claimed in the ledger.
  void PlanScaledCopy(Work& work) {
    const SettingsRecord& s = options.settings;
    // Size of the native output as the imaging layer reads it; 0 x 0 when it
    // cannot be decoded.
    std::int32_t W = 0, H = 0;
    if (work.native == OutputLedger::Presence::kPlanned) {
      W = work.planned.width;
      H = work.planned.height;
    } else if (work.written1) {
      // Just written from the preview in hand: read it there, and keep it
      // loaded for the scaling.
      if (work.picture.LoadFromMemory(work.preview.data.get(), work.preview.length)) {
        W = work.picture.width();
        H = work.picture.height();
      }
    } else {
      Picture picture;
      if (picture.LoadFromFile(work.nativePath)) {
        W = picture.width();
        H = picture.height();
      }
    }
    if (W <= 0 || H <= 0) {
      // A preview the imaging layer cannot read has no size to name or scale
      // a copy by: reported, and nothing goes under a scaled name (never the
      // full-size preview).
      Fail(work, NativePath(), FailureReason::kScaleFailed);
      return;
    }
    bool fits = W <= s.maxWidth && H <= s.maxHeight;
    if (!s.useSubfolders && fits) return;
    work.w = W;
    work.h = H;
    if (!fits) FitWithin(W, H, s.maxWidth, s.maxHeight, work.w, work.h);
    NativePath scaledFolder;
    std::string why;
    if (!OutputFolder(work.outputBase, s.FolderPattern(true), s.maxWidth, s.maxHeight, scaledFolder, why)) {
      Fail(work, scaledFolder, FailureReason::kFolderFailed, why);
      return;
    }
    work.scaledPath = JoinPath(scaledFolder, ExpandFilePattern(s.FilePattern(true), work.rawName, work.w, work.h));
    work.existed2 = ledger.Exists(work.scaledPath) != OutputLedger::Presence::kAbsent;
    if (work.existed2) {
      Record(work, work.scaledPath, true, true, work.w, work.h);
      return;
    }
    work.scaleNeeded = true;
    work.resize = (work.w != W || work.h != H);
    ledger.Claim(work.scaledPath);
  }

  // After the turn: the claimed scaled copy is made, from a fresh extraction
  // of this RAW file when the native step did not extract it (the same
  // bytes), and the claim is settled.
  void WriteScaledCopy(Work& work) {
    FileTimes times;
    if (!work.preview.ok()) ExtractPreview(work.raw, work.preview, options.settings.Exif());
    if (!work.preview.ok()) {
      Fail(work, work.scaledPath, *work.preview.failure, work.preview.why);
    } else if (options.dryRun) {
      ledger.Plan(work.scaledPath, {work.w, work.h});
      work.written2 = true;
    } else {
      std::error_code error;  // set only when writing failed
      const FileTimes* raw_times = RawTimes(work.raw, times);
      bool ok = work.resize ? ScaleAndWrite(work.picture, work.preview, work.w, work.h,
                                            static_cast<float>(options.settings.ScaledQuality()) / 100.0f,
                                            work.scaledPath, raw_times, &error)
                            : WriteFileNoReplace(work.scaledPath, work.preview.data.get(), work.preview.length,
                                                 raw_times, &error);
      work.picture.Release();
      NativePath unused;
      if (ok)
        work.written2 = true;
      else if (OutputExists(NativePath(), work.scaledPath, unused))
        work.existed2 = true;  // appeared meanwhile: never replaced
      else
        Fail(work, work.scaledPath, work.resize && !error ? FailureReason::kScaleFailed : FailureReason::kWriteFailed,
             error ? error.message() : "");
    }
    ledger.Settle(work.scaledPath);
    if (work.written2 || work.existed2) Record(work, work.scaledPath, true, work.existed2, work.w, work.h);
  }

  void Count(const Work& work) {
    JobLock lock(host);
    JobCounters& c = host.Counters();
    if (work.written1 || work.written2)
      ++c.newCount;
    else if (work.existed1 || work.existed2)
      ++c.existingCount;
    if (work.failed) ++c.failedCount;
    c.outputsWritten += (work.written1 ? 1 : 0) + (work.written2 ? 1 : 0);
    c.outputsExisting += (work.existed1 ? 1 : 0) + (work.existed2 ? 1 : 0);
    ++c.filesDone;
  }

  // All outputs of one candidate. Decisions are taken in walk order (the
  // ledger's turn); extraction and scaling run outside it. Returns false
  // when the job was cancelled before this candidate.
  bool ExtractOne(std::size_t index) {
    if (CancelRequested(host)) {
      cancelled = true;
      ledger.WaitTurn(index);
      ledger.EndTurn();
      return false;
    }
    Work work(index, candidates[index]);
    PrepareNative(work);
    ledger.WaitTurn(index);
    if (work.named && !work.folderOk) {
      Fail(work, work.nativeFolder, FailureReason::kFolderFailed, work.folderWhy);
    } else if (work.folderOk) {
      WriteNative(work);
      if (options.settings.makeSmallerCopies != 0 && (work.written1 || work.existed1)) PlanScaledCopy(work);
    }
    ledger.EndTurn();
    if (work.scaleNeeded) WriteScaledCopy(work);
    Count(work);
    return true;
  }
};

void Engine::Fail(Work& work, const NativePath& output, FailureReason reason, std::string detail) {
  work.failed = true;
  JobLock lock(host);
  host.AddFailure({work.index, work.raw, output, reason, std::move(detail)});
}

void Engine::Record(const Work& work, const NativePath& output, bool scaled, bool existed, std::int32_t w,
                    std::int32_t h) {
  JobLock lock(host);
  host.AddOutput({work.index, work.raw, output, scaled, w, h, existed});
}

}  // namespace

// ---------------------------------------------------------------------------

const char* FailureReasonText(FailureReason reason) {
  switch (reason) {
    case FailureReason::kUnreadable: return "could not be read";
    case FailureReason::kNoPreview: return "preview could not be extracted";
    case FailureReason::kFolderFailed: return "cannot create folder";
    case FailureReason::kWriteFailed: return "could not be written";
    case FailureReason::kScaleFailed: return "scaled copy could not be made";
    case FailureReason::kUnlistable: return "folder could not be listed";
    case FailureReason::kNotRaw: return "not a RAW file Veltrano reads";
    case FailureReason::kJpegFile: return "a JPEG file itself (only RAW files are read)";
    case FailureReason::kRawWithoutPreview: return "no embedded JPEG preview";
  }
  return "failed";
}

bool HasJpegExtension(const NativePath& path) {
  NativePath name = GetNamePart(path);
  std::string lower;
  lower.reserve(name.size());
  for (NativeChar ch : name) {
    auto c = static_cast<unsigned long>(ch);
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    lower.push_back(c < 0x80 ? static_cast<char>(c) : '\x80');
  }
  auto ends = [&](const char* suffix) {
    std::string s = suffix;
    return lower.size() >= s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0;
  };
  return ends(".jpg") || ends(".jpeg") || ends(".jpe");
}

bool JpegFrameSize(const unsigned char* data, std::size_t length, std::int32_t& width, std::int32_t& height) {
  if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  std::size_t pos = 2;
  while (pos + 4 <= length) {
    if (data[pos] != 0xFF) return false;
    unsigned char marker = data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      pos += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;
    std::size_t segment = (std::size_t{data[pos + 2]} << 8) | data[pos + 3];
    if (segment < 2) return false;
    bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (segment < 7 || pos + 2 + 7 > length) return false;
      height = static_cast<std::int32_t>((data[pos + 5] << 8) | data[pos + 6]);
      width = static_cast<std::int32_t>((data[pos + 7] << 8) | data[pos + 8]);
      return true;
    }
    pos += 2 + segment;
  }
  return false;
}

void RunExtraction(JobHost& host, const std::vector<NativePath>& selection, const JobOptions& options) {
  const unsigned workers = std::max(1u, options.workers);

  // 1. Walk.
  const std::vector<Candidate> candidates =
      CollectCandidates(host, selection, options.recursive, workers, options.settings.FolderPattern(false));

  // 2. Start the clock.
  {
    JobLock lock(host);
    host.Counters().filesScanned = static_cast<std::int32_t>(candidates.size());
  }
  const std::time_t startTime = std::time(nullptr);
  const auto startClock = std::chrono::steady_clock::now();

  // A cancel during the walk ends the job here: nothing is extracted and
  // the job is not done.
  if (CancelRequested(host)) return;

  // 3. Extract.
  Engine engine(host, options, candidates);
  ParallelFor(candidates.size(), workers, [&](std::size_t i) { return engine.ExtractOne(i); });
  engine.RemoveUnusedFolders();

  // 4. Completion.
  if (engine.cancelled) return;
  JobLock lock(host);
  JobCounters& c = host.Counters();
  c.jobDone = true;
  c.closeCountdown = 100;
  c.elapsedSeconds = static_cast<std::int32_t>(std::time(nullptr) - startTime);
  c.elapsedMilliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startClock).count();
}

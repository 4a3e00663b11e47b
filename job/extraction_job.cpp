#include "job/extraction_job.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "job/atomic_write.h"
#include "job/output_names.h"
#include "probe/probe.h"
#include "ui/fit_within.h"
#include "ui/picture.h"

namespace fs = std::filesystem;

namespace {

// Deepest folder nesting a recursive walk enters; deeper trees are almost
// certainly link loops or hostile, and the walk's stack must stay bounded.
constexpr int kMaxWalkDepth = 64;
// Largest scaled copy read back into memory before it is moved into place;
// far above any copy a sane box produces.
constexpr std::size_t kMaxScaledCopyBytes = std::size_t{512} << 20;
// Quality of re-encoded scaled copies.
constexpr float kScaledQuality = 0.95f;

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

  bool ok() const { return data != nullptr; }
};

bool CanOpen(const NativePath& path) {
  std::FILE* f = OpenFileWide(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

void ExtractPreview(const NativePath& raw, Preview& preview) {
  preview.tried = true;
  unsigned char* buffer = nullptr;
  std::uint32_t length = 0, rotated = 0;
  if (probe_extract_jpeg_preview(raw, kVeltranoSoftware, &buffer, &length, &rotated) && buffer && length > 0) {
    preview.data.reset(buffer);
    preview.length = length;
    preview.failure.reset();
    return;
  }
  std::free(buffer);
  preview.data.reset();
  preview.length = 0;
  preview.failure = CanOpen(raw) ? FailureReason::kNoPreview : FailureReason::kUnreadable;
}

NativePath JoinPath(const NativePath& folder, const NativePath& name) {
  NativePath out = folder;
  if (!out.empty() && out.back() != kPathSeparator) out.push_back(kPathSeparator);
  out += name;
  return out;
}

// Bounded whole-file read; false when the file is missing, larger than the
// limit or comes up short.
bool ReadWholeFile(const NativePath& path, std::size_t limit, std::vector<unsigned char>& out) {
  std::error_code ec;
  auto size = fs::file_size(fs::path(path), ec);
  if (ec || size > limit) return false;
  std::FILE* f = OpenFileWide(path, "rb");
  if (!f) return false;
  out.resize(static_cast<std::size_t>(size));
  std::size_t got = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), f);
  std::fclose(f);
  return got == out.size();
}

// A temporary name beside the target: unique within the process by a
// counter, and between processes by a random salt drawn once.
NativePath TempNameFor(const NativePath& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  NativePath folder;
  if (!GetFolderPart(target, folder)) folder.clear();
  std::string tail = ".vltr-scale-" + std::to_string(salt) + "-" +
                     std::to_string(static_cast<unsigned long>(std::time(nullptr))) + "-" +
                     std::to_string(counter.fetch_add(1)) + ".tmp";
  NativePath name = NativeFromAscii(".") + GetNamePart(target) + NativeFromAscii(tail.c_str());
  return folder + name;
}

// Scales the preview to width x height and writes the result as a new file
// at target. The imaging layer works on files, so the preview goes through
// a hidden temporary file in the target's folder that is always removed;
// the target itself only ever receives the finished scaled JPEG.
bool ScaleAndWrite(const Preview& preview, std::int32_t width, std::int32_t height, const NativePath& target) {
  NativePath temp = TempNameFor(target);
  bool ok = false;
  std::FILE* f = OpenFileWide(temp, "wb");
  if (f) {
    bool wrote = std::fwrite(preview.data.get(), 1, preview.length, f) == preview.length;
    wrote = (std::fclose(f) == 0) && wrote;
    if (wrote) {
      Picture picture;
      if (picture.LoadFromFile(temp)) {
        picture.ScaleTo(width, height);
        bool saved = !picture.empty() && picture.SaveAs(temp, u"image/jpeg", kScaledQuality);
        picture.Release();
        std::vector<unsigned char> scaled;
        if (saved && ReadWholeFile(temp, kMaxScaledCopyBytes, scaled) && !scaled.empty())
          ok = WriteFileNoReplace(target, scaled.data(), scaled.size());
      }
    }
  }
  std::error_code ec;
  fs::remove(fs::path(temp), ec);
  return ok;
}

// ---------------------------------------------------------------------------
// Walk

bool CancelRequested(JobHost& host) {
  JobLock lock(host);
  return host.Counters().cancelRequested;
}

bool IsDirectory(const NativePath& path) {
  std::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

// Lists the files to test under one selected path, in walk order. Folder
// entries are taken in name order (what NTFS hands out; readdir order is
// arbitrary, and a fixed order decides output-name collisions the same way
// on every run).
void ListFolder(JobHost& host, const NativePath& folder, bool recursive, int depth, std::vector<NativePath>& out,
                bool& stop) {
  NativePath base = folder;
  if (base.empty() || base.back() != kPathSeparator) base.push_back(kPathSeparator);
  struct Entry {
    NativePath name;
    bool directory;
    bool symlink;
  };
  std::vector<Entry> entries;
  std::error_code ec;
  fs::directory_iterator it(fs::path(base), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code e1, e2;
    bool dir = it->is_directory(e1);
    bool link = it->is_symlink(e2);
    entries.push_back({it->path().filename().native(), dir, link});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (const Entry& e : entries) {
    if (stop) return;
    if (e.directory) {
      if (recursive && !e.symlink && depth < kMaxWalkDepth) ListFolder(host, base + e.name, true, depth + 1, out, stop);
    } else {
      out.push_back(base + e.name);
    }
    if (CancelRequested(host)) stop = true;
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
  Engine(JobHost& h, const JobOptions& o, const std::vector<NativePath>& c) : host(h), options(o), candidates(c) {}

  JobHost& host;
  const JobOptions& options;
  const std::vector<NativePath>& candidates;
  OutputLedger ledger;
  std::atomic<bool> cancelled{false};

  void Fail(std::size_t index, const NativePath& raw, const NativePath& output, FailureReason reason) {
    JobLock lock(host);
    host.AddFailure({index, raw, output, reason});
  }
  void Record(std::size_t index, const NativePath& raw, const NativePath& output, bool scaled, std::int32_t w,
              std::int32_t h) {
    JobLock lock(host);
    host.AddOutput({index, raw, output, scaled, w, h});
  }

  // Output folder for a pattern; creates a missing sub-folder unless this
  // is a dry run.
  bool OutputFolder(const NativePath& rawFolder, const NativePath& pattern, std::int32_t w, std::int32_t h,
                    NativePath& folder) {
    if (pattern.empty()) {
      folder = rawFolder;
      return true;
    }
    NativePath name = ExpandFolderPattern(pattern, w, h);
    if (options.dryRun) {
      folder = JoinPath(rawFolder, name);
      return true;
    }
    if (EnsureFolder(rawFolder, name, folder)) return true;
    // Another worker may have created it between the test and the creation.
    folder = JoinPath(rawFolder, name);
    return IsDirectory(folder);
  }

  // Returns false when the job was cancelled before this candidate.
  bool Process(std::size_t index) {
    const NativePath& raw = candidates[index];
    const SettingsRecord& s = options.settings;
    if (CancelRequested(host)) {
      cancelled = true;
      ledger.WaitTurn(index);
      ledger.EndTurn();
      return false;
    }

    // Work that needs no ordering: names, folders, and the extraction itself
    // unless the native output is there already.
    NativePath rawFolder, nativeFolder, nativePath;
    bool named = GetFolderPart(raw, rawFolder);
    bool folderOk = named && OutputFolder(rawFolder, s.FolderPattern(false), 0, 0, nativeFolder);
    NativePath rawName = GetNamePart(raw);
    Preview preview;
    if (folderOk) {
      nativePath = JoinPath(nativeFolder, ExpandFilePattern(s.FilePattern(false), rawName, 0, 0));
      NativePath unused;
      if (!OutputExists(NativePath(), nativePath, unused)) ExtractPreview(raw, preview);
    }

    bool written1 = false, existed1 = false, written2 = false, existed2 = false;
    bool scaleNeeded = false, resize = false;
    NativePath scaledPath;
    std::int32_t w = 0, h = 0;

    ledger.WaitTurn(index);
    if (named && !folderOk) {
      Fail(index, raw, NativePath(), FailureReason::kFolderFailed);
    } else if (folderOk) {
      using Presence = OutputLedger::Presence;
      OutputLedger::Planned planned;
      Presence native = ledger.Exists(nativePath, &planned);
      existed1 = native != Presence::kAbsent;
      if (!existed1) {
        if (!preview.tried) ExtractPreview(raw, preview);
        if (!preview.ok()) {
          Fail(index, raw, nativePath, *preview.failure);
        } else if (options.dryRun) {
          JpegFrameSize(preview.data.get(), preview.length, planned.width, planned.height);
          ledger.Plan(nativePath, planned);
          native = Presence::kPlanned;
          written1 = true;
        } else if (WriteFileNoReplace(nativePath, preview.data.get(), preview.length)) {
          written1 = true;
        } else if (ledger.Exists(nativePath) != Presence::kAbsent) {
          existed1 = true;  // appeared meanwhile: never replaced
        } else {
          Fail(index, raw, nativePath, FailureReason::kWriteFailed);
        }
        if (written1) Record(index, raw, nativePath, false, 0, 0);
      }

      if (s.makeSmallerCopies != 0 && (written1 || existed1)) {
        // Size of the native output as the imaging layer reads it; 0 x 0
        // when it cannot be decoded.
        std::int32_t W = 0, H = 0;
        if (native == Presence::kPlanned) {
          W = planned.width;
          H = planned.height;
        } else {
          Picture picture;
          if (picture.LoadFromFile(nativePath)) {
            W = picture.width();
            H = picture.height();
          }
          picture.Release();
        }
        bool fits = W <= s.maxWidth && H <= s.maxHeight;
        if (W <= 0 || H <= 0) {
          // A preview the imaging layer cannot read has no size to name or
          // scale a copy by: reported, and nothing goes under a scaled name
          // (never the full-size preview).
          Fail(index, raw, NativePath(), FailureReason::kScaleFailed);
        } else if (s.useSubfolders || !fits) {
          w = W;
          h = H;
          if (!fits) FitWithin(W, H, s.maxWidth, s.maxHeight, w, h);
          NativePath scaledFolder;
          if (!OutputFolder(rawFolder, s.FolderPattern(true), s.maxWidth, s.maxHeight, scaledFolder)) {
            Fail(index, raw, NativePath(), FailureReason::kFolderFailed);
          } else {
            scaledPath = JoinPath(scaledFolder, ExpandFilePattern(s.FilePattern(true), rawName, w, h));
            existed2 = ledger.Exists(scaledPath) != OutputLedger::Presence::kAbsent;
            if (!existed2) {
              scaleNeeded = true;
              resize = (w != W || h != H);
              ledger.Claim(scaledPath);
            }
          }
        }
      }
    }
    ledger.EndTurn();

    if (scaleNeeded) {
      // The copy is made from a fresh extraction of this RAW file; when the
      // native pass extracted it already, those are the same bytes.
      if (!preview.ok()) ExtractPreview(raw, preview);
      if (!preview.ok()) {
        Fail(index, raw, scaledPath, *preview.failure);
      } else if (options.dryRun) {
        ledger.Plan(scaledPath, {w, h});
        written2 = true;
      } else {
        bool ok = resize ? ScaleAndWrite(preview, w, h, scaledPath)
                         : WriteFileNoReplace(scaledPath, preview.data.get(), preview.length);
        if (ok) {
          written2 = true;
        } else {
          NativePath unused;
          if (OutputExists(NativePath(), scaledPath, unused))
            existed2 = true;  // appeared meanwhile: never replaced
          else
            Fail(index, raw, scaledPath, resize ? FailureReason::kScaleFailed : FailureReason::kWriteFailed);
        }
      }
      ledger.Settle(scaledPath);
      if (written2) Record(index, raw, scaledPath, true, w, h);
    }

    JobLock lock(host);
    JobCounters& c = host.Counters();
    if (written1 || written2)
      ++c.newCount;
    else if (existed1 || existed2)
      ++c.existingCount;
    ++c.filesDone;
    return true;
  }
};

}  // namespace

// ---------------------------------------------------------------------------

const char* FailureReasonText(FailureReason reason) {
  switch (reason) {
    case FailureReason::kUnreadable: return "could not be read";
    case FailureReason::kNoPreview: return "preview could not be extracted";
    case FailureReason::kFolderFailed: return "output folder could not be created";
    case FailureReason::kWriteFailed: return "could not be written";
    case FailureReason::kScaleFailed: return "scaled copy could not be made";
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

bool IsCandidate(const NativePath& path) {
  if (HasJpegExtension(path)) return false;
  return probe_has_jpeg_preview(path) != 0;
}

void CollectCandidates(JobHost& host, std::vector<NativePath>& candidates, const NativePath& path, bool recursive) {
  if (!IsDirectory(path)) {
    if (IsCandidate(path)) candidates.push_back(path);
    return;
  }
  std::vector<NativePath> files;
  bool stop = false;
  ListFolder(host, path, recursive, 0, files, stop);
  for (const NativePath& f : files)
    if (IsCandidate(f)) candidates.push_back(f);
}

bool WriteBufferToFile(const NativePath& path, const void* bytes, std::size_t length) {
  return WriteFileNoReplace(path, bytes, length);
}

ExtractOneResult ExtractOne(const NativePath& rawPath, NativePath& outputPath, const NativePath& folderPattern,
                            const NativePath& filePattern, std::int32_t folderWidth, std::int32_t folderHeight,
                            std::int32_t fileWidth, std::int32_t fileHeight) {
  ExtractOneResult result;
  NativePath rawFolder;
  if (!GetFolderPart(rawPath, rawFolder)) return result;
  NativePath folder = rawFolder;
  if (!folderPattern.empty() &&
      !EnsureFolder(rawFolder, ExpandFolderPattern(folderPattern, folderWidth, folderHeight), folder))
    return result;
  NativePath name = ExpandFilePattern(filePattern, GetNamePart(rawPath), fileWidth, fileHeight);
  if (OutputExists(folder, name, outputPath)) {
    result.existed = true;
    return result;
  }
  Preview preview;
  ExtractPreview(rawPath, preview);
  if (!preview.ok()) return result;
  if (WriteBufferToFile(outputPath, preview.data.get(), preview.length))
    result.written = true;
  else if (CanOpen(outputPath))
    result.existed = true;
  return result;
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

  // 1. Walk: list every file to test, in order, then test them (in parallel:
  // each test is a whole probe of the file).
  std::vector<NativePath> files;
  std::vector<bool> selectedFile;  // tested file came straight from the selection
  bool stop = false;
  for (const NativePath& path : selection) {
    if (IsDirectory(path)) {
      if (stop) continue;
      ListFolder(host, path, options.recursive, 0, files, stop);
      selectedFile.resize(files.size(), false);
    } else {
      files.push_back(path);
      selectedFile.push_back(true);
    }
  }
  std::vector<char> isCandidate(files.size(), 0), unreadable(files.size(), 0);
  ParallelFor(files.size(), workers, [&](std::size_t i) {
    // Testing a file is a whole probe: a cancel is seen between files.
    if (CancelRequested(host)) return false;
    if (!HasJpegExtension(files[i])) {
      isCandidate[i] = probe_has_jpeg_preview(files[i]) != 0;
      if (!isCandidate[i] && selectedFile[i] && !CanOpen(files[i])) unreadable[i] = 1;
    }
    return true;
  });
  std::vector<NativePath> candidates;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (isCandidate[i]) candidates.push_back(files[i]);
    if (unreadable[i]) {
      JobLock lock(host);
      host.AddFailure({0, files[i], NativePath(), FailureReason::kUnreadable});
    }
  }

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
  ParallelFor(candidates.size(), workers, [&](std::size_t i) { return engine.Process(i); });

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

// What the extraction job shares with whoever shows its progress: the
// counters, the flags and the per-file reports. Every access goes through
// one lock that the host provides, so the Windows progress dialog (a Win32
// mutex) and the command-line tool (std::mutex) drive the same job code.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/native_path.h"

// The job's shared fields. Read and written only while the host's lock is
// held.
struct JobCounters {
  std::int32_t filesScanned = -1;   // candidates found by the walk; -1 while walking
  std::int32_t filesFound = 0;      // files the walk has listed so far (all kinds)
  std::int32_t newCount = 0;        // RAW files for which this run wrote an output
  std::int32_t existingCount = 0;   // RAW files whose outputs were all there already
  std::int32_t elapsedSeconds = 0;  // whole seconds of the extraction loop, at completion
  std::int64_t elapsedMilliseconds = 0;  // the same, finer, for the command line
  std::int32_t closeCountdown = 0;  // set to 100 at completion; counted down by the dialog
  std::int32_t filesDone = 0;       // candidates handled so far (for a progress bar)
  // Set once, after the walk: files it read that are no RAW files (files
  // named .jpg and the like are not read), and RAW files holding no usable
  // JPEG preview.
  std::int32_t notRawCount = 0;
  std::int32_t noPreviewCount = 0;
  // Files (or folders) with at least one failure, each counted once; a RAW
  // file whose native output was written but whose scaled copy failed counts
  // here and in newCount.
  std::int32_t failedCount = 0;
  // JPEG files: written by this run (native and scaled apart), and found
  // there already.
  std::int32_t outputsWritten = 0;
  std::int32_t outputsExisting = 0;
  // Sub-folders of the selected folders that a walk without recursion did
  // not enter; set once, after the walk.
  std::int32_t foldersNotEntered = 0;
  bool jobDone = false;             // ran to its end without being cancelled
  bool cancelRequested = false;     // the job stops at its next check
};

// Why a file yielded no output.
enum class FailureReason {
  kUnreadable,     // the RAW file could not be opened
  kNoPreview,      // the probe found the file but could not hand out its preview
  kFolderFailed,   // the output folder can be neither found nor created
  kWriteFailed,    // the output could not be written completely
  kScaleFailed,    // the scaled copy could not be decoded, resized or encoded
  kUnlistable,     // a selected folder or one below it could not be listed
  kNotRaw,         // a file named in the selection is not a RAW file the probe reads
  kJpegFile,       // a file named in the selection is a JPEG by its name, so never a candidate
  kRawWithoutPreview,  // a file named in the selection is a RAW file without a usable JPEG preview
};

// "could not be read", "cannot create folder", ...: the reason without its
// object or detail.
const char* FailureReasonText(FailureReason reason);

struct FileFailure {
  std::size_t candidate = 0;  // index in walk order
  NativePath rawPath;     // the RAW file, or the folder that could not be listed
  NativePath outputPath;  // the output, or the folder that could not be created;
                          // empty when the failure came before naming either
  FailureReason reason;
  std::string detail;     // the system's reason ("No space left on device"), or empty
};

// One output of a RAW file: written by the job (in a dry run: would be), or
// found there already.
struct OutputRecord {
  std::size_t candidate = 0;  // index in walk order
  NativePath rawPath;
  NativePath outputPath;
  bool scaled = false;
  std::int32_t width = 0;  // scaled copies only: the copy's size
  std::int32_t height = 0;
  bool existed = false;  // the file was there already and was left as it was
};

// The host side. Lock/Unlock guard Counters() and the two lists; the job
// never holds the lock across file, probe or imaging work.
class JobHost {
 public:
  virtual ~JobHost() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual JobCounters& Counters() = 0;
  // Called with the lock held.
  virtual void AddFailure(FileFailure failure) = 0;
  virtual void AddOutput(OutputRecord output) = 0;
};

class JobLock {
 public:
  explicit JobLock(JobHost& host) : host_(host) { host_.Lock(); }
  ~JobLock() { host_.Unlock(); }
  JobLock(const JobLock&) = delete;
  JobLock& operator=(const JobLock&) = delete;

 private:
  JobHost& host_;
};

// The portable host: a std::mutex and plain lists. The command-line tool and
// the tests use it.
class JobProgress final : public JobHost {
 public:
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  JobCounters& Counters() override { return counters_; }
  void AddFailure(FileFailure failure) override { failures_.push_back(std::move(failure)); }
  void AddOutput(OutputRecord output) override { outputs_.push_back(std::move(output)); }

  // Copies taken under the lock.
  JobCounters Snapshot() {
    JobLock lock(*this);
    return counters_;
  }
  // Both lists in walk order (workers report as they finish).
  std::vector<FileFailure> Failures() {
    JobLock lock(*this);
    std::vector<FileFailure> out = failures_;
    std::stable_sort(out.begin(), out.end(),
                     [](const FileFailure& a, const FileFailure& b) { return a.candidate < b.candidate; });
    return out;
  }
  std::vector<OutputRecord> Outputs() {
    JobLock lock(*this);
    std::vector<OutputRecord> out = outputs_;
    std::stable_sort(out.begin(), out.end(), [](const OutputRecord& a, const OutputRecord& b) {
      return a.candidate != b.candidate ? a.candidate < b.candidate : (!a.scaled && b.scaled);
    });
    return out;
  }
  void RequestCancel() {
    JobLock lock(*this);
    counters_.cancelRequested = true;
  }

 private:
  std::mutex mutex_;
  JobCounters counters_;
  std::vector<FileFailure> failures_;
  std::vector<OutputRecord> outputs_;
};

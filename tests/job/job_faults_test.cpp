// The job against hostile or unlucky file systems: named pipes, long names,
// leftovers of killed runs, folders that cannot be listed or created. Uses
// only the sample RAW file that ships with the project.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "job/extraction_job.h"
#include "support/folder_test.h"
#include "ui/picture.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSampleRaw = fs::path(VELTRANO_SOURCE_DIR) / "samples" / "sample-raw.tif";

class JobFaultsTest : public FolderTest {
 protected:
  fs::path Raw(const std::string& rel) {
    fs::path p = root_ / rel;
    fs::create_directories(p.parent_path());
    fs::copy_file(kSampleRaw, p);
    return p;
  }
};

struct JobResult {
  JobCounters counters;
  std::vector<FileFailure> failures;
  std::vector<OutputRecord> outputs;
};

JobResult RunJob(const std::vector<fs::path>& selection, JobOptions options = {}) {
  JobProgress progress;
  std::vector<NativePath> sel;
  for (const auto& s : selection) sel.push_back(s.native());
  RunExtraction(progress, sel, options);
  return {progress.Snapshot(), progress.Failures(), progress.Outputs()};
}

// A blocking open() of a named pipe waits for a writer for ever, and the
// cancel flag is only read between files: the job hung until SIGKILL.
TEST_F(JobFaultsTest, NamedPipeNeverBlocksTheJob) {
  Raw("card/IMG_1.TIF");
  const fs::path inFolder = root_ / "card" / "sync.CR2", named = root_ / "named.NEF";
  ASSERT_EQ(::mkfifo(inFolder.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(named.c_str(), 0600), 0);
  auto job = std::async(std::launch::async, [&] { return RunJob({root_ / "card", named}); });
  if (job.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    // Release each blocked open with a writer that comes and goes, then fail.
    while (job.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
      for (const fs::path& fifo : {inFolder, named}) {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
      }
    FAIL() << "the job blocked on a named pipe";
  }
  JobResult run = job.get();
  EXPECT_TRUE(run.counters.jobDone);
  ASSERT_EQ(run.outputs.size(), 1u);
  EXPECT_EQ(run.outputs[0].rawPath, (root_ / "card" / "IMG_1.TIF").native());
  // The pipe named on the command line is reported; the one met during the
  // walk is simply not a RAW file.
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0].rawPath, named.native());
}

// Temporaries were named after the output (".<name>.<pid>-<n>.tmp", and two
// nested ones for scaled copies), so outputs with legal names of about 190
// to 245 bytes and more failed with ENAMETOOLONG.
TEST_F(JobFaultsTest, OutputNamesOf250BytesAreWritten) {
  std::string stem;
  for (int i = 0; i < 80; ++i) stem += "\xE5\x86\x99";  // 80 CJK characters, 240 bytes
  stem += "x";
  const fs::path raw = Raw("card/" + stem + ".TIF");
  JobOptions options;
  options.settings.makeSmallerCopies = 1;
  options.settings.maxWidth = options.settings.maxHeight = 100;
  JobResult run = RunJob({root_ / "card"}, options);
  EXPECT_TRUE(run.failures.empty()) << run.failures[0].detail;
  const fs::path native = root_ / "card" / "extracted_jpegs" / (stem + "_VLTR.jpg");
  const fs::path scaled = root_ / "card" / "extracted_jpegs_100" / (stem + "_VLTR_100.jpg");
  EXPECT_EQ(native.filename().string().size(), 250u);
  EXPECT_EQ(scaled.filename().string().size(), 254u);
  EXPECT_TRUE(fs::is_regular_file(native));
  Picture picture;
  EXPECT_TRUE(picture.LoadFromFile(scaled.native()));
  EXPECT_EQ(picture.width(), 100);
}

// After SIGKILL the hidden temporaries stayed for ever. The next run that
// writes into the folder removes ours (exact name form, and old, or old
// enough and from a process that is gone) and nothing else.
TEST_F(JobFaultsTest, StaleTemporariesOfAKilledRunAreRemovedAndNothingElse) {
  Raw("card/IMG_1.TIF");
  const fs::path out = root_ / "card" / "extracted_jpegs";
  fs::create_directories(out);
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);  // a process id that is gone
  const std::string dead = std::to_string(child), alive = std::to_string(::getppid());
  const auto minutesAgo = [](int m) { return fs::file_time_type::clock::now() - std::chrono::minutes(m); };
  struct Case {
    std::string name;
    int ageMinutes;
    bool removed;
  } cases[] = {
      {".vltr-" + dead + "-0.tmp", 10, true},      // killed run
      {".vltr-" + alive + "-1.tmp", 3 * 24 * 60, true},  // days old, whoever wrote it
      {".vltr-" + dead + "-2.tmp", 0, false},      // just written (maybe by another machine)
      {".vltr-" + alive + "-3.tmp", 10, false},    // its process still runs
      {".vltr-" + dead + "-4.tmp.jpg", 10, false}, // not our form
      {"a.vltr-" + dead + "-5.tmp", 10, false},
      {".vltr-" + dead + "-.tmp", 10, false},
      {".vltr-x-6.tmp", 10, false},
      {"IMG_9_VLTR.jpg", 10, false},
  };
  for (const Case& c : cases) {
    std::ofstream(out / c.name) << "x";
    fs::last_write_time(out / c.name, minutesAgo(c.ageMinutes));
  }
  const std::string dirName = ".vltr-" + dead + "-7.tmp", linkName = ".vltr-" + dead + "-8.tmp";
  fs::create_directory(out / dirName);
  fs::create_symlink(out / "IMG_9_VLTR.jpg", out / linkName);
  JobResult run = RunJob({root_ / "card"});
  EXPECT_EQ(run.outputs.size(), 1u);
  for (const Case& c : cases) EXPECT_EQ(fs::exists(out / c.name), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_directory(out / dirName));
  EXPECT_TRUE(fs::is_symlink(out / linkName));
}

// "output folder could not be created" said neither which folder nor why.
TEST_F(JobFaultsTest, FolderInTheWayIsNamedWithItsReason) {
  Raw("card/IMG_1.TIF");
  std::ofstream(root_ / "card" / "extracted_jpegs") << "not a folder";
  JobResult run = RunJob({root_ / "card"});
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0].reason, FailureReason::kFolderFailed);
  EXPECT_EQ(run.failures[0].outputPath, (root_ / "card" / "extracted_jpegs").native());
  EXPECT_EQ(run.failures[0].detail, "a file of that name is in the way");
}

// A folder that could not be listed was skipped in silence. Root lists
// anything, so the job then runs in a child as an unprivileged user.
TEST_F(JobFaultsTest, FolderThatCannotBeListedIsAFailure) {
  Raw("card/IMG_1.TIF");
  fs::create_directories(root_ / "card" / "locked");
  fs::permissions(root_, fs::perms::all);
  fs::permissions(root_ / "card", fs::perms::all);
  fs::permissions(root_ / "card" / "locked", fs::perms::none);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    JobOptions options;
    options.recursive = true;
    JobResult run = RunJob({root_ / "card"}, options);
    std::string report;
    for (const FileFailure& f : run.failures)
      report += std::to_string(static_cast<int>(f.reason)) + "|" + f.rawPath + "|" + f.detail + "\n";
    report += "outputs " + std::to_string(run.outputs.size()) + "\n";
    if (::write(fds[1], report.data(), report.size()) < 0) ::_exit(4);
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  ::close(fds[1]);
  std::string report;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string expected = std::to_string(static_cast<int>(FailureReason::kUnlistable)) + "|" +
                               (root_ / "card" / "locked").string() + "|Permission denied\noutputs 1\n";
  EXPECT_EQ(report, expected);
}

// A full disk gave "could not be written" without the reason.
TEST_F(JobFaultsTest, FullDiskFailureCarriesTheSystemReason) {
  const fs::path mnt = root_ / "full";
  fs::create_directories(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
  struct Unmount {
    fs::path at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mnt};
  fs::copy_file(kSampleRaw, mnt / "IMG_1.TIF");
  {
    std::ofstream fill(mnt / "fill", std::ios::binary);
    const std::string block(1 << 16, 'f');
    while (fill.write(block.data(), block.size())) {
    }
  }
  JobOptions options;
  options.settings.useSubfolders = false;
  JobResult run = RunJob({mnt}, options);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0].reason, FailureReason::kWriteFailed);
  EXPECT_EQ(std::string(FailureReasonText(run.failures[0].reason)) + ": " + run.failures[0].detail,
            "could not be written: No space left on device");
  EXPECT_EQ(std::distance(fs::directory_iterator(mnt), fs::directory_iterator()), 2);  // no temporary left
}

}  // namespace

// A run that could write nothing left its empty extracted_jpegs folders
// behind. Here every output name is too long for the file system: the
// folders the run made go again, a folder that was there before stays, and
// so does one the run made and wrote into.
TEST_F(JobFaultsTest, OutputFoldersThatStayEmptyAreRemovedAgain) {
  const std::string longStem(250, 'x');  // + "_VLTR.jpg": 259 bytes, over the limit
  Raw("fresh/" + longStem + ".TIF");
  Raw("before/" + longStem + ".TIF");
  fs::create_directories(root_ / "before" / "extracted_jpegs");
  Raw("mixed/" + longStem + ".TIF");
  Raw("mixed/IMG_1.TIF");
  JobOptions options;
  options.settings.makeSmallerCopies = 1;
  options.settings.maxWidth = options.settings.maxHeight = 100;
  JobResult run = RunJob({root_ / "fresh", root_ / "before", root_ / "mixed"}, options);
  EXPECT_EQ(run.failures.size(), 3u);
  EXPECT_FALSE(fs::exists(root_ / "fresh" / "extracted_jpegs"));
  EXPECT_FALSE(fs::exists(root_ / "fresh" / "extracted_jpegs_100"));
  EXPECT_TRUE(fs::is_directory(root_ / "before" / "extracted_jpegs"));
  EXPECT_TRUE(fs::is_regular_file(root_ / "mixed" / "extracted_jpegs" / "IMG_1_VLTR.jpg"));
  EXPECT_TRUE(fs::is_regular_file(root_ / "mixed" / "extracted_jpegs_100" / "IMG_1_VLTR_100.jpg"));
}

// The progress dialog showed nothing while the walk ran: the walk now
// publishes the number of files it has listed, rising to all of them before
// the candidates are counted.
TEST_F(JobFaultsTest, TheWalkPublishesTheFilesFoundSoFar) {
  for (int i = 0; i < 5; ++i) Raw("card/IMG_" + std::to_string(i) + ".TIF");
  std::ofstream(root_ / "card" / "notes.txt") << "not a RAW file";
  class Recorder final : public JobHost {
   public:
    void Lock() override { mutex_.lock(); }
    void Unlock() override {
      if (counters_.filesScanned < 0 && (seen.empty() || seen.back() != counters_.filesFound))
        seen.push_back(counters_.filesFound);
      mutex_.unlock();
    }
    JobCounters& Counters() override { return counters_; }
    void AddFailure(FileFailure) override {}
    void AddOutput(OutputRecord) override {}
    std::vector<std::int32_t> seen;  // distinct filesFound values during the walk

   private:
    std::mutex mutex_;
    JobCounters counters_;
  } recorder;
  Raw("other/IMG_9.TIF");
  RunExtraction(recorder, {(root_ / "card").native(), (root_ / "other" / "IMG_9.TIF").native()}, JobOptions{});
  EXPECT_EQ(recorder.seen, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(recorder.Counters().filesScanned, 6);
}

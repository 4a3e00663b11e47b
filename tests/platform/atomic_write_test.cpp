#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <string>
#include <thread>

#include "support/folder_test.h"
#include "platform/atomic_write.h"
#include "platform/temp_names.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::size_t CountEntries(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

using AtomicWriteTest = FolderTest;

// Temporaries used to embed the target's name, so a legal target name of
// about 245 bytes or more gave an illegal temporary name.
TEST_F(AtomicWriteTest, TemporaryNameIsShortAndFixedWhateverTheTarget) {
  const std::string long_name = std::string(246, 'n') + ".jpg";  // 250 bytes
  const fs::path target = root_ / long_name;
  const std::string pid = std::to_string(::getpid());
  const fs::path a = TemporaryPathBeside(target.native()), b = TemporaryPathBeside(target.native());
  EXPECT_EQ(a.parent_path(), root_);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.filename().string().rfind(".vltr-" + pid + "-", 0), 0u) << a;
  EXPECT_EQ(a.extension(), ".tmp");
  EXPECT_LT(a.filename().string().size(), 40u);
  EXPECT_EQ(fs::path(TemporaryPathBeside("bare.jpg")).parent_path(), fs::path());
  ASSERT_TRUE(WriteFileNoReplace(target.native(), "x", 1));
  ASSERT_TRUE(ReplaceFileAtomically(target.native(), "yz", 2));
  EXPECT_EQ(ReadText(target), "yz");
  EXPECT_EQ(CountEntries(root_), 1u);
}

TEST_F(AtomicWriteTest, WriteFileNoReplaceNeverReplacesAndLeavesNoTemporary) {
  const fs::path target = root_ / "IMG_1_VLTR.jpg";
  const std::string first(100000, 'a'), second = "second";
  ASSERT_TRUE(WriteFileNoReplace(target.native(), first.data(), first.size()));
  EXPECT_EQ(ReadText(target), first);
  EXPECT_FALSE(WriteFileNoReplace(target.native(), second.data(), second.size()));
  EXPECT_EQ(ReadText(target), first);
  EXPECT_EQ(CountEntries(root_), 1u);
  // An empty buffer makes an empty file.
  ASSERT_TRUE(WriteFileNoReplace((root_ / "empty.jpg").native(), "", 0));
  EXPECT_EQ(fs::file_size(root_ / "empty.jpg"), 0u);
  // A missing folder fails without leftovers.
  EXPECT_FALSE(WriteFileNoReplace((root_ / "none" / "x.jpg").native(), "x", 1));
  EXPECT_EQ(CountEntries(root_), 2u);
  // A directory in the way is not replaced either.
  fs::create_directory(root_ / "dir.jpg");
  EXPECT_FALSE(WriteFileNoReplace((root_ / "dir.jpg").native(), "x", 1));
  EXPECT_TRUE(fs::is_directory(root_ / "dir.jpg"));
  EXPECT_EQ(CountEntries(root_), 3u);
}

TEST_F(AtomicWriteTest, ReplaceFileAtomicallyReplacesWholeContent) {
  const fs::path target = root_ / "VLTR.cfg";
  ASSERT_TRUE(ReplaceFileAtomically(target.native(), "first-long-content", 18));
  ASSERT_TRUE(ReplaceFileAtomically(target.native(), "2nd", 3));
  EXPECT_EQ(ReadText(target), "2nd");
  EXPECT_EQ(CountEntries(root_), 1u);
  EXPECT_FALSE(ReplaceFileAtomically((root_ / "none" / "x").native(), "x", 1));
  EXPECT_EQ(CountEntries(root_), 1u);
}

#ifndef _WIN32
TEST_F(AtomicWriteTest, ShortWriteFailsAndRemovesTheTemporary) {
  // A file-size limit makes the write stop short, as a full disk does.
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string big(10000, 'b');
  const bool no_replace = WriteFileNoReplace((root_ / "big.jpg").native(), big.data(), big.size());
  const bool replace = ReplaceFileAtomically((root_ / "big.cfg").native(), big.data(), big.size());
  const bool fits = WriteFileNoReplace((root_ / "small.jpg").native(), big.data(), 1000);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(no_replace);
  EXPECT_FALSE(replace);
  EXPECT_TRUE(fits);
  EXPECT_FALSE(fs::exists(root_ / "big.jpg"));
  EXPECT_FALSE(fs::exists(root_ / "big.cfg"));
  EXPECT_EQ(CountEntries(root_), 1u);
}
#endif

// A second Ctrl-C ends the process at once; the temporaries being written
// then must not stay behind. The table removes what is registered, only that.
TEST_F(AtomicWriteTest, TemporariesInFlightAreRemovedOnDemandAndOnlyThey) {
  const fs::path inFlight = TemporaryPathBeside((root_ / "a.jpg").native());
  const fs::path released = TemporaryPathBeside((root_ / "b.jpg").native());
  std::ofstream(inFlight) << "partial";
  std::ofstream(released) << "partial";
  std::ofstream(root_ / "a.jpg") << "done";
  // In a child process: once removed, nothing may be written any more.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int slot = RegisterTemporary(inFlight.native());
    const int other = RegisterTemporary(released.native());
    if (slot < 0 || other < 0) ::_exit(2);
    ReleaseTemporary(other);
    RemoveTemporariesInFlight();
    ::_exit(WriteFileNoReplace((root_ / "late.jpg").native(), "x", 1) ? 3 : 0);
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(fs::exists(root_ / "late.jpg"));
  EXPECT_FALSE(fs::exists(inFlight));
  EXPECT_TRUE(fs::exists(released));
  EXPECT_TRUE(fs::exists(root_ / "a.jpg"));
}

// An abrupt exit (a second Ctrl-C) while another thread writes: the writer
// could register its temporary, lose the race to the removal, create the
// file and have the process end under it, leaving the file behind. Each
// child process here exits right after the removal, as the command does.
TEST_F(AtomicWriteTest, AbruptExitWhileWritingLeavesNoTemporary) {
  constexpr int kChildren = 60;
  for (int child = 0; child < kChildren; ++child) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::atomic<bool> started{false};
      std::thread writer([&] {
        const std::string data(4096, 'x');
        for (int i = 0;; ++i) {
          WriteFileNoReplace((root_ / ("w" + std::to_string(child) + "-" + std::to_string(i))).native(), data.data(),
                             data.size());
          started = true;
        }
      });
      while (!started) std::this_thread::yield();
      ::usleep(static_cast<useconds_t>(200 + 37 * child));
      RemoveTemporariesInFlight();
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  int left = 0;
  for (const auto& e : fs::directory_iterator(root_)) left += e.path().filename().string().rfind(".vltr-", 0) == 0;
  EXPECT_EQ(left, 0);
}

}  // namespace

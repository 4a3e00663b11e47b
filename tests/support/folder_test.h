// Fixture of the tests that work on files: a fresh folder per test under the
// system's temporary folder, named after the suite, the process and the test,
// and removed after the test (write permission is given back first, since a
// test may take it away). Also runs a shell command the way the command-line
// tests start the built program.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "support/scratch_folder.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() / (std::string("veltrano-") + test->test_suite_name() + "-" +
                                                      std::to_string(VLTR_TEST_PID) + "-" + test->name());
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    std::filesystem::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    if (root_.empty()) return;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    for (auto& e : std::filesystem::recursive_directory_iterator(root_, ec))
      if (e.is_directory(ec))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ec);
    std::filesystem::remove_all(root_, ec);
  }

  std::filesystem::path root_;
};

#ifndef _WIN32
struct CommandResult {
  int status = -1;  // exit status, -1 when the command did not exit normally
  std::string out, err;
};

// Runs a shell command, its standard error sent to errFile; gives its output
// and status.
inline CommandResult RunCommand(const std::string& command, const std::filesystem::path& errFile) {
  CommandResult r;
  FILE* pipe = ::popen((command + " 2>'" + errFile.string() + "'").c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int st = ::pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream e(errFile, std::ios::binary);
  r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
  return r;
}
#endif

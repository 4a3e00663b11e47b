// A folder of the test program's own under the system's temporary folder,
// named after the process, removed with its contents when the object goes
// (for a static one: when the program ends normally).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define VLTR_TEST_PID _getpid()
#else
#include <unistd.h>
#define VLTR_TEST_PID ::getpid()
#endif

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& stem)
      : path_(std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(VLTR_TEST_PID))) {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

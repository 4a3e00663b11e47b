// Runs probe readers over an in-memory file: the fixture installs a fresh
// ProbeState over the bytes for its lifetime.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "probe/probe_input.h"
#include "probe/probe_state.h"

class ScopedProbe {
 public:
  explicit ScopedProbe(std::vector<std::uint8_t> bytes, std::uint16_t byte_order = 0x4949,
                       std::string name = "test.raw")
      : file_(std::move(bytes)), name_(std::move(name)) {
    g_probe.probe_file = &file_;
    g_probe.probe_file_name = name_.c_str();
    reset_probe_state();
    g_probe.byte_order = byte_order;
  }
  ~ScopedProbe() {
    g_probe.probe_file = nullptr;
    g_probe.probe_file_name = "";
  }
  ScopedProbe(const ScopedProbe&) = delete;
  ScopedProbe& operator=(const ScopedProbe&) = delete;

  ProbeFile& file() { return file_; }

 private:
  ProbeFile file_;
  std::string name_;
};

// Folder of the shared samples, or empty when it is absent.
inline std::string samples_dir() {
#ifdef VELTRANO_SAMPLES_DIR
  std::string dir = VELTRANO_SAMPLES_DIR;
  std::ifstream probe(dir + "/README.md");
  if (probe) return dir;
#endif
  return {};
}

inline std::vector<std::uint8_t> read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

#define SKIP_WITHOUT_SAMPLES()                                                        \
  do {                                                                                \
    if (samples_dir().empty())                                                        \
      GTEST_SKIP() << "shared samples folder (../shared/samples) is absent; skipped"; \
  } while (0)

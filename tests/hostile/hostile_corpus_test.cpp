// Hostile-input sweep: every file of the shared hostile and RAW sample
// folders, and every input the fuzzer ever crashed on, goes through both
// entry points. Nothing may crash, hang, leak a buffer on failure, or hand
// out bytes that are not the file's own preview.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "probe/probe.h"
#include "support/probe_fixture.h"

namespace fs = std::filesystem;

namespace {

// A single call slower than this fails the test: no structure in a file of a
// few hundred kilobytes justifies it, so it means a loop that is not bounded.
constexpr double kPerCallLimitSeconds = 2.0;

// A call still running after this long is a hang: the watchdog names the
// file and aborts, so the run ends instead of waiting for CTest's timeout.
constexpr int kWatchdogSeconds = 30;

// Size of the Exif APP1 segment the probe inserts into a preview lacking one.
constexpr std::uint32_t kInsertedSegment = 1386;

// Aborts the process, naming the file, when one probe call runs too long.
class HangWatchdog {
 public:
  HangWatchdog() : thread_([this] { watch(); }) {}
  ~HangWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void begin(const std::string& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = file;
    started_ = std::chrono::steady_clock::now();
    busy_ = true;
  }
  void end() {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::milliseconds(200));
      if (busy_ && std::chrono::steady_clock::now() - started_ > std::chrono::seconds(kWatchdogSeconds)) {
        std::fprintf(stderr, "HANG: probing %s has run for more than %d s\n", file_.c_str(),
                     kWatchdogSeconds);
        std::fflush(stderr);
        std::abort();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string file_;
  std::chrono::steady_clock::time_point started_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};

struct SweepResult {
  std::size_t files = 0;
  std::size_t with_preview = 0;
  double slowest_seconds = 0;
  std::string slowest_file;
  std::vector<std::string> previews;  // file names that yielded a buffer
};

std::vector<fs::path> regular_files_in(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    // Hidden files (.gitkeep) only hold a folder in place.
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Probes one file with both entry points and checks everything that must hold
// for any input. Returns true when a preview buffer came back.
bool probe_one(const fs::path& file, HangWatchdog& watchdog, SweepResult& result) {
  const std::string name = file.filename().string();
  const NativePath path = native_path(file);
  const std::vector<std::uint8_t> bytes = read_file_bytes(file.string());

  auto timed = [&](auto&& call) {
    watchdog.begin(file.string());
    auto start = std::chrono::steady_clock::now();
    call();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    watchdog.end();
    EXPECT_LT(seconds, kPerCallLimitSeconds) << name << " took " << seconds << " s in one probe call";
    if (seconds > result.slowest_seconds) {
      result.slowest_seconds = seconds;
      result.slowest_file = name;
    }
  };

  int has = -1;
  timed([&] { has = probe_has_jpeg_preview(path); });
  EXPECT_TRUE(has == 0 || has == 1) << name << ": probe_has_jpeg_preview answered " << has;

  unsigned char* buffer = nullptr;
  std::uint32_t length = 0xDEADBEEF;
  std::uint32_t rotated = 0xDEADBEEF;
  int extracted = -1;
  timed([&] {
    extracted = probe_extract_jpeg_preview(path, kVeltranoSoftware, &buffer, &length, &rotated, ExifMode::basic);
  });

  ProbeReport report;
  timed([&] { EXPECT_TRUE(probe_report(path, report)) << name << ": probe_report could not open the file"; });

  ++result.files;
  EXPECT_TRUE(extracted == 0 || extracted == 1) << name << ": probe_extract_jpeg_preview answered " << extracted;
  // The same probe runs three times over the same bytes: the answers agree.
  EXPECT_EQ(has == 1, report.has_jpeg_preview) << name << ": has_jpeg_preview disagrees with the report";
  EXPECT_EQ(has, extracted) << name << ": has_jpeg_preview disagrees with the extraction";
  if (extracted != 1) {
    EXPECT_EQ(buffer, nullptr) << name << ": a buffer came back with a failure answer";
    std::free(buffer);
    return false;
  }

  ++result.with_preview;
  result.previews.push_back(name);
  EXPECT_EQ(has, 1) << name << ": extraction succeeded where probe_has_jpeg_preview said no";
  if (buffer == nullptr) {
    ADD_FAILURE() << name << ": success answered without a buffer";
    return true;
  }
  EXPECT_TRUE(rotated == 0 || rotated == 1) << name << ": rotated = " << rotated;
  EXPECT_GE(length, 11u) << name << ": preview too short to be a JPEG";
  if (length < 2) {
    std::free(buffer);
    return true;
  }
  EXPECT_EQ(buffer[0], 0xFF) << name;
  EXPECT_EQ(buffer[1], 0xD8) << name;
#if defined(__GLIBC__)
  // The allocation really holds the claimed length (exact under the address
  // sanitizer, at least as large with the plain allocator).
  EXPECT_GE(malloc_usable_size(buffer), length) << name << ": buffer smaller than its length";
#endif

  // The bytes are the file's own: the preview as stored, after the marker,
  // either directly or behind the inserted Exif segment.
  const std::uint32_t stored = report.preview_length;
  const std::int64_t offset = report.preview_offset;
  EXPECT_TRUE(length == stored || length == stored + kInsertedSegment)
      << name << ": length " << length << " for a stored preview of " << stored << " bytes";
  EXPECT_GE(offset, 0) << name;
  EXPECT_LE(static_cast<std::uint64_t>(offset) + stored, bytes.size())
      << name << ": the preview runs past the end of the file, yet bytes came back";
  if (offset >= 0 && static_cast<std::uint64_t>(offset) + stored <= bytes.size() && stored >= 2) {
    const std::uint8_t* from_file = bytes.data() + offset + 2;
    const std::size_t tail = stored - 2;
    if (length == stored) {
      EXPECT_EQ(std::memcmp(buffer + 6, "Exif", 5), 0) << name << ": returned unchanged without an Exif segment";
      EXPECT_EQ(std::memcmp(buffer + 2, from_file, tail), 0) << name << ": preview bytes differ from the file";
    } else if (length == stored + kInsertedSegment) {
      const std::uint8_t head[10] = {0xFF, 0xE1, 0x05, 0x68, 'E', 'x', 'i', 'f', 0, 0};
      EXPECT_EQ(std::memcmp(buffer + 2, head, sizeof head), 0) << name << ": inserted segment head";
      EXPECT_EQ(std::memcmp(buffer + 1388, from_file, tail), 0) << name << ": preview bytes differ from the file";
    }
  }
  std::free(buffer);
  return true;
}

SweepResult sweep(const std::vector<fs::path>& files) {
  HangWatchdog watchdog;
  SweepResult result;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    probe_one(file, watchdog, result);
  }
  return result;
}

void print_summary(const char* what, const SweepResult& r) {
  std::printf("%s: %zu files probed, %zu with a JPEG preview, slowest call %.4f s (%s)\n", what, r.files,
              r.with_preview, r.slowest_seconds, r.slowest_file.c_str());
  for (const auto& name : r.previews) std::printf("  preview from %s\n", name.c_str());
}

}  // namespace

// Nothing in the hostile folder is a camera file: media containers and
// mangled TIFFs that broke other readers. None may yield a preview.
TEST(HostileCorpus, HostileFilesProbeCleanlyAndYieldNoPreview) {
  SKIP_WITHOUT_SAMPLES();
  const fs::path dir = fs::path(samples_dir()) / "hostile";
  const auto files = regular_files_in(dir);
  if (files.empty()) GTEST_SKIP() << "no files in " << dir << "; skipped";

  const SweepResult result = sweep(files);
  print_summary("hostile", result);
  EXPECT_EQ(result.files, files.size());
  EXPECT_EQ(result.with_preview, 0u) << "first file with a preview: "
                                     << (result.previews.empty() ? "" : result.previews.front());
}

// The real camera samples probe cleanly. Three of them still carry an
// embedded JPEG (the samples' README lists what an independent reader finds):
// exactly those give a buffer, and it passes the buffer checks. The others
// hold none, or only a placeholder, and give none; so does a JPEG disguised
// as a RAW file.
TEST(HostileCorpus, RawSamplesProbeCleanly) {
  SKIP_WITHOUT_SAMPLES();
  const fs::path dir = fs::path(samples_dir()) / "raw";
  const auto files = regular_files_in(dir);
  if (files.empty()) GTEST_SKIP() << "no files in " << dir << "; skipped";

  const SweepResult result = sweep(files);
  print_summary("raw", result);
  EXPECT_EQ(result.files, files.size());

  const std::vector<std::string> with_jpeg = {"FujiFilm.raf", "Panasonic.rw2", "SigmaDP2.x3f"};
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    const bool expected = std::find(with_jpeg.begin(), with_jpeg.end(), name) != with_jpeg.end();
    const bool got = std::find(result.previews.begin(), result.previews.end(), name) != result.previews.end();
    EXPECT_EQ(got, expected) << name << (expected ? " gave no preview" : " gave a preview it does not hold");
  }
}

// Inputs the fuzzer once crashed or hung on, and the hand-made seeds: each
// replays through the same checks.
TEST(HostileCorpus, FuzzCorpusReplays) {
  std::vector<fs::path> files;
  for (const char* sub : {"fuzz/corpus/regressions", "fuzz/corpus/seeds"}) {
    auto more = regular_files_in(fs::path(VELTRANO_SOURCE_DIR) / sub);
    files.insert(files.end(), more.begin(), more.end());
  }
  if (files.empty()) GTEST_SKIP() << "fuzz/corpus holds no inputs yet; skipped";

  const SweepResult result = sweep(files);
  print_summary("fuzz corpus", result);
  EXPECT_EQ(result.files, files.size());
}

// The checks above must be able to fail: a file made of a valid TIFF header
// whose only directory places a JPEG preview beyond the end of the file must
// not give a buffer (the bytes are not there).
TEST(HostileCorpus, PreviewPastEndOfFileIsRefused) {
  std::vector<std::uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto u16 = [&](unsigned v) {
    tiff.push_back(static_cast<std::uint8_t>(v));
    tiff.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) tiff.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto entry = [&](unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
    u16(tag);
    u16(type);
    u32(count);
    u32(value);
  };
  u16(3);
  entry(271, 2, 4, 'C' | 'a' << 8 | 'n' << 16);  // "Can"
  entry(46, 7, 4000000, 8 + 2 + 3 * 12 + 4);     // claims 4 MB of JPEG right after the directory
  entry(274, 3, 1, 1);
  u32(0);
  const std::uint8_t jpeg_start[] = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  tiff.insert(tiff.end(), std::begin(jpeg_start), std::end(jpeg_start));
  tiff.resize(tiff.size() + 200, 0x11);

  const fs::path file = fs::temp_directory_path() / ("veltrano-hostile-" + std::to_string(::getpid()) + ".tif");
  {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(tiff.data(), 1, tiff.size(), out), tiff.size());
    std::fclose(out);
  }
  ProbeReport report;
  ASSERT_TRUE(probe_report(native_path(file), report));
  EXPECT_EQ(report.preview_length, 4000000u) << "the probe did not find the tag 46 preview";

  unsigned char* buffer = nullptr;
  std::uint32_t length = 0, rotated = 0;
  EXPECT_EQ(probe_extract_jpeg_preview(native_path(file), kVeltranoSoftware, &buffer, &length, &rotated, kDefaultExifMode), 0);
  EXPECT_EQ(buffer, nullptr);
  std::free(buffer);
  fs::remove(file);
}

// Real camera files (../shared/samples/real-raw, every file in it) against
// exiftool run at test time: the extracted preview is the largest JPEG
// exiftool extracts, byte for byte after any inserted Exif segment; every
// JPEG exiftool extracts is in the probe's list of embedded images; make,
// model and capture time agree (under two time zones).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "probe/probe.h"
#include "support/probe_fixture.h"
#include "tests/probe/core_builders.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// exiftool's tags for embedded JPEGs.
constexpr const char* kImageTags[] = {"PreviewImage", "JpgFromRaw", "ThumbnailImage", "OtherImage"};

bool have_exiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool is_jpeg(const Bytes& b) { return b.size() > 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF; }

// What exiftool reads in one file: names, time and the embedded JPEGs.
struct ExiftoolView {
  std::string make, model, time;
  std::vector<std::pair<std::string, Bytes>> jpegs;  // one per tag that has one
};

// One exiftool run writes every tag into a file of its own in `work`.
ExiftoolView ask_exiftool(const std::string& file, const fs::path& work) {
  fs::remove_all(work);
  fs::create_directories(work);
  std::string command = "exiftool -q -q -b -W " + quoted((work / "%t.%s").string()) + " -Make -Model -DateTimeOriginal";
  for (const char* tag : kImageTags) command += std::string(" -") + tag;
  run(command + " " + quoted(file));
  auto text = [&](const char* tag) {
    const Bytes b = read_file_bytes((work / (std::string(tag) + ".txt")).string());
    return std::string(b.begin(), b.end());
  };
  ExiftoolView view{text("Make"), text("Model"), text("DateTimeOriginal"), {}};
  for (const auto& e : fs::directory_iterator(work)) {
    for (const char* tag : kImageTags) {
      if (e.path().stem() != tag) continue;
      Bytes b = read_file_bytes(e.path().string());
      if (is_jpeg(b)) view.jpegs.emplace_back(tag, std::move(b));
    }
  }
  return view;
}

// The probe's JPEG equals exiftool's, except that exiftool may carry zero
// bytes after the end-of-image marker (the padding of the box that holds
// it, which the JPEG's own length field leaves out).
bool same_jpeg(const std::uint8_t* ours, std::size_t ours_size, const Bytes& theirs) {
  if (ours_size > theirs.size() || !std::equal(ours, ours + ours_size, theirs.begin())) return false;
  if (ours_size == theirs.size()) return true;
  return ours_size >= 2 && ours[ours_size - 2] == 0xFF && ours[ours_size - 1] == 0xD9 &&
         std::all_of(theirs.begin() + static_cast<std::ptrdiff_t>(ours_size), theirs.end(),
                     [](std::uint8_t b) { return b == 0; });
}

// "YYYY:MM:DD hh:mm:ss" as the probe reads it: local standard time.
std::int64_t local_standard_seconds(const std::string& text) {
  std::tm t = {};
  if (std::sscanf(text.c_str(), "%d:%d:%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                  &t.tm_sec) != 6)
    return 0;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = 0;
  return static_cast<std::int64_t>(std::mktime(&t));
}

void use_tz(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

TEST(RealFiles, AgreeWithExiftool) {
  SKIP_WITHOUT_SAMPLES();
  const fs::path folder = fs::path(samples_dir()) / "real-raw";
  if (!fs::is_directory(folder)) GTEST_SKIP() << folder << " is absent; skipped";
  if (!have_exiftool()) GTEST_SKIP() << "exiftool is not installed; skipped";
  const fs::path work = fs::path(testing::TempDir()) / "veltrano_real_files";
  fs::create_directories(work);

  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  for (const fs::path& path : files) {
    const std::string file = path.string();
    SCOPED_TRACE(file);
    const Bytes bytes = read_file_bytes(file);
    const ExiftoolView exiftool = ask_exiftool(file, work);
    const auto& jpegs = exiftool.jpegs;

    // The preview is the largest JPEG exiftool extracts.
    use_tz("UTC");
    const core_test::Extracted got = core_test::extract(native_path(path));
    if (jpegs.empty()) {
      std::printf("%s: exiftool extracts no JPEG\n", file.c_str());
    } else {
      const auto& largest = *std::max_element(jpegs.begin(), jpegs.end(), [](const auto& a, const auto& b) {
        return a.second.size() < b.second.size();
      });
      ASSERT_EQ(got.ok, 1) << "no preview; exiftool's largest is " << largest.first;
      const Bytes& theirs = largest.second;
      // An inserted Exif segment sits between the start marker and the rest.
      const bool theirs_has_exif = theirs.size() > 11 && theirs[3] == 0xE1 && std::equal(theirs.begin() + 6, theirs.begin() + 10, "Exif");
      const std::size_t skip = theirs_has_exif ? 0 : 1386;
      ASSERT_GT(got.data.size(), skip + 2);
      EXPECT_TRUE(std::equal(got.data.begin(), got.data.begin() + 2, theirs.begin()));
      EXPECT_TRUE(same_jpeg(got.data.data() + skip + 2, got.data.size() - skip - 2, Bytes(theirs.begin() + 2, theirs.end())))
          << "differs from exiftool's " << largest.first;
      std::printf("%s: preview = exiftool's %s (%zu bytes, ours %zu after %zu inserted)\n", path.filename().c_str(),
                  largest.first.c_str(), theirs.size(), got.data.size() - skip, skip);
    }

    // Names and time, under two zones, each probed on a fresh thread.
    const std::string& make = exiftool.make;
    const std::string& model = exiftool.model;
    const std::string& time = exiftool.time;
    for (const char* tz : {"UTC", "JST-9"}) {
      SCOPED_TRACE(tz);
      use_tz(tz);
      ProbeReport r;
      bool opened = false;
      std::thread([&] { opened = probe_report(native_path(path), r); }).join();
      ASSERT_TRUE(opened);
      EXPECT_NE(make.find(r.make), std::string::npos) << make << " vs " << r.make;
      EXPECT_FALSE(r.make.empty());
      const bool model_agrees =
          model == r.model || (model.size() > r.model.size() && model.ends_with(" " + r.model) &&
                               model.substr(0, model.size() - r.model.size() - 1).find(r.make) != std::string::npos);
      EXPECT_TRUE(model_agrees) << model << " vs " << r.model;
      // Times are the camera's wall clock with no zone: the text read as
      // UTC, in every zone. CIFF stores seconds, which exiftool shows as UTC.
      use_tz("UTC");
      const std::int64_t as_recorded = local_standard_seconds(time);
      use_tz(tz);
      EXPECT_EQ(r.capture_time, as_recorded)
          << time << " read as " << r.capture_time;

      // Every JPEG exiftool extracts is listed, and the chosen one is ours.
      for (const auto& [tag, theirs] : jpegs) {
        const bool listed = std::any_of(r.images.begin(), r.images.end(), [&](const EmbeddedImageReport& image) {
          return image.jpeg && image.whole && image.offset + image.length <= static_cast<std::int64_t>(bytes.size()) &&
                 same_jpeg(bytes.data() + image.offset, image.length, theirs);
        });
        EXPECT_TRUE(listed) << tag << " is not in the list of embedded images";
      }
      if (!jpegs.empty()) {
        EXPECT_EQ(std::count_if(r.images.begin(), r.images.end(), [](const auto& i) { return i.chosen; }), 1);
      }
    }
  }
  use_tz("UTC");
  fs::remove_all(work);
}

}  // namespace

// The extraction job on folders of RAW-like files built around JPEGs encoded
// at test time: what it writes, what it counts, and that any number of workers
// gives the result of one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "job/extraction_job.h"
#include "job/progress_text.h"
#include "probe/probe.h"
#include "support/flat_jpeg.h"
#include "support/probe_fixture.h"
#include "support/raw_builder.h"
#include "support/test_jpeg.h"
#include "ui/fit_within.h"
#include "ui/picture.h"

namespace fs = std::filesystem;
using raw_builder::Layout;

namespace {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> n{0};
    // Unique across the test processes that ctest runs side by side.
    static const unsigned salt = std::random_device{}();
    path_ = fs::temp_directory_path() / ("veltrano-job-" + std::to_string(salt) + "-" + std::to_string(n++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::string str(const std::string& rel = "") const { return rel.empty() ? path_.string() : (path_ / rel).string(); }

 private:
  fs::path path_;
};

using test_jpeg::encoded;

void WriteRaw(const std::string& path, const std::vector<std::uint8_t>& jpeg, Layout layout = Layout::kStripJpeg,
              std::uint8_t seed = 1) {
  raw_builder::RawSpec spec;
  spec.layout = layout;
  spec.jpeg = jpeg;
  spec.fillerSeed = seed;
  fs::create_directories(fs::path(path).parent_path());
  ASSERT_TRUE(raw_builder::write_file(path, raw_builder::build(spec))) << path;
}

// A camera-like JPEG (with Exif) of the given size.
std::vector<std::uint8_t> SmallJpeg(int w, int h) {
  test_jpeg::JpegSpec spec;
  spec.width = w, spec.height = h;
  return test_jpeg::encode(spec);
}

struct JobRun {
  JobCounters counters;
  std::vector<FileFailure> failures;
  std::vector<OutputRecord> outputs;
};

JobRun RunJob(const std::vector<std::string>& selection, JobOptions options) {
  JobProgress progress;
  std::vector<NativePath> sel;
  for (const auto& s : selection) sel.push_back(native_path(s));
  RunExtraction(progress, sel, options);
  return {progress.Snapshot(), progress.Failures(), progress.Outputs()};
}

JobOptions Options(bool smaller = false, bool suffix = true, bool subfolders = true, unsigned workers = 1) {
  JobOptions o;
  o.settings.makeSmallerCopies = smaller ? 1 : 0;
  o.settings.addSuffix = suffix;
  o.settings.useSubfolders = subfolders;
  o.workers = workers;
  return o;
}

// Every file under root (relative path -> bytes), the RAW inputs included.
std::map<std::string, std::vector<std::uint8_t>> Tree(const fs::path& root) {
  std::map<std::string, std::vector<std::uint8_t>> out;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = read_file_bytes(e.path().string());
  return out;
}

std::pair<int, int> DecodedSize(const std::string& path) {
  Picture p;
  if (!p.LoadFromFile(native_path(path))) return {0, 0};
  return {p.width(), p.height()};
}

class ExtractionJobTest : public ::testing::Test {
 protected:
  TempDir dir;
};

}  // namespace

// The preview comes out byte for byte when it carries Exif (the RAWs have
// none of their own here), and with the RAW's Exif inserted after the
// start-of-image marker when it does not; in every container layout.
TEST_F(ExtractionJobTest, WritesThePreviewOfEveryLayout) {
  struct Case {
    const char* name;
    Layout layout;
    test_jpeg::JpegSpec (*picture)();
  } cases[] = {
      {"IMG_1.CR2", Layout::kStripJpeg, test_jpeg::landscape},
      {"DSC_0002.NEF", Layout::kSubIfdJpeg, test_jpeg::three_two},
      {"P1000003.RW2", Layout::kTag46Jpeg, test_jpeg::portrait},
      {"IMG_4.CR2", Layout::kStripJpeg, test_jpeg::phone},  // APP0 first, no Exif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto jpeg = encoded(c.picture);
    WriteRaw(dir.str(c.name), jpeg, c.layout);
    JobRun run = RunJob({dir.str(c.name)}, Options());
    ASSERT_TRUE(run.counters.jobDone);
    EXPECT_EQ(run.counters.filesScanned, 1);
    EXPECT_EQ(run.counters.newCount, 1);
    EXPECT_TRUE(run.failures.empty());
    std::string stem = std::string(c.name).substr(0, std::string(c.name).find('.'));
    auto out = read_file_bytes(dir.str("extracted_jpegs/" + stem + "_VLTR.jpg"));
    if (raw_builder::carries_exif(jpeg)) {
      EXPECT_TRUE(out == jpeg);  // the RAW has no Exif of its own: the camera's stays
    } else {
      // The default, full Exif: a segment built from the RAW after the start
      // marker, then the preview from its byte 2 on.
      ASSERT_GT(out.size(), jpeg.size());
      EXPECT_TRUE(raw_builder::starts_with_exif(out));
      EXPECT_TRUE(std::equal(jpeg.begin() + 2, jpeg.end(), out.end() - (jpeg.size() - 2)));
    }
  }
}

// New, then existing on the second run; an existing output is never touched;
// deleting only the scaled copy re-creates it and counts the file as new.
TEST_F(ExtractionJobTest, CountsNewExistingAndRecreatedScaledCopy) {
  auto jpeg = encoded(test_jpeg::landscape);  // 1504 x 1000
  WriteRaw(dir.str("IMG_1.CR2"), jpeg);
  WriteRaw(dir.str("IMG_2.CR2"), encoded(test_jpeg::three_two));
  const std::string folder = dir.str();

  JobRun first = RunJob({folder}, Options(true));
  EXPECT_EQ(first.counters.filesScanned, 2);
  EXPECT_EQ(first.counters.newCount, 2);
  EXPECT_EQ(first.counters.existingCount, 0);
  const std::string scaled = dir.str("extracted_jpegs_800/IMG_1_VLTR_800.jpg");
  ASSERT_TRUE(fs::exists(scaled));
  EXPECT_EQ(DecodedSize(scaled), std::make_pair(800, 531));
  auto before = Tree(dir.path());

  JobRun second = RunJob({folder}, Options(true));
  EXPECT_EQ(second.counters.newCount, 0);
  EXPECT_EQ(second.counters.existingCount, 2);
  // Every output is still reported, as found there.
  EXPECT_EQ(second.outputs.size(), 4u);
  for (const OutputRecord& o : second.outputs) EXPECT_TRUE(o.existed);
  EXPECT_TRUE(Tree(dir.path()) == before);

  fs::remove(scaled);
  JobRun third = RunJob({folder}, Options(true));
  EXPECT_EQ(third.counters.newCount, 1);
  EXPECT_EQ(third.counters.existingCount, 1);
  std::vector<OutputRecord> written;
  for (const OutputRecord& o : third.outputs)
    if (!o.existed) written.push_back(o);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_TRUE(written[0].scaled);
  EXPECT_EQ(third.counters.outputsWritten, 1);
  EXPECT_EQ(third.counters.outputsExisting, 3);
  EXPECT_EQ(DecodedSize(scaled), std::make_pair(800, 531));

  // A file put where an output goes is left alone and counts as existing.
  fs::remove_all(dir.str("extracted_jpegs_800"));
  raw_builder::write_file(dir.str("extracted_jpegs/IMG_2_VLTR.jpg"), {'m', 'i', 'n', 'e'});
  JobRun fourth = RunJob({dir.str("IMG_2.CR2")}, Options(false));
  EXPECT_EQ(fourth.counters.existingCount, 1);
  EXPECT_EQ(read_file_bytes(dir.str("extracted_jpegs/IMG_2_VLTR.jpg")), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
}

// The four name layouts, portrait and landscape previews, and previews that
// already fit the box.
TEST_F(ExtractionJobTest, NamesScaledCopiesInEveryLayout) {
  auto landscape = encoded(test_jpeg::landscape);  // 1504 x 1000 -> 800 x 531
  auto portrait = encoded(test_jpeg::portrait);    // 864 x 1152 -> 600 x 800
  auto small = SmallJpeg(600, 400);                // fits the box
  struct Case {
    bool suffix, subfolders;
    std::vector<std::string> expected;  // besides the RAW files
  } cases[] = {
      {true, true,
       {"extracted_jpegs/L_VLTR.jpg", "extracted_jpegs/P_VLTR.jpg", "extracted_jpegs/S_VLTR.jpg",
        "extracted_jpegs_800/L_VLTR_800.jpg", "extracted_jpegs_800/P_VLTR_600.jpg",
        "extracted_jpegs_800/S_VLTR_600.jpg"}},
      {true, false, {"L_VLTR.jpg", "P_VLTR.jpg", "S_VLTR.jpg", "L_VLTR_800.jpg", "P_VLTR_600.jpg"}},
      {false, true,
       {"extracted_jpegs/L.jpg", "extracted_jpegs/P.jpg", "extracted_jpegs/S.jpg", "extracted_jpegs_800/L.jpg",
        "extracted_jpegs_800/P.jpg", "extracted_jpegs_800/S.jpg"}},
      {false, false, {"L.jpg", "P.jpg", "S.jpg", "L_800.jpg", "P_600.jpg"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("suffix ") + (c.suffix ? "on" : "off") + ", subfolders " + (c.subfolders ? "on" : "off"));
    TempDir d;
    WriteRaw(d.str("L.NEF"), landscape, Layout::kSubIfdJpeg);
    WriteRaw(d.str("P.CR2"), portrait);
    WriteRaw(d.str("S.RW2"), small, Layout::kTag46Jpeg);
    JobRun run = RunJob({d.str()}, Options(true, c.suffix, c.subfolders));
    EXPECT_EQ(run.counters.newCount, 3);
    EXPECT_TRUE(run.failures.empty());
    std::set<std::string> files;
    for (auto& [rel, bytes] : Tree(d.path())) files.insert(rel);
    std::set<std::string> expected(c.expected.begin(), c.expected.end());
    expected.insert({"L.NEF", "P.CR2", "S.RW2"});
    EXPECT_EQ(files, expected);
    // Sizes of the scaled copies, and the copy that fits stays byte-identical.
    for (const std::string& rel : c.expected) {
      bool scaled = rel.find("_800") != std::string::npos || rel.find("_600") != std::string::npos;
      if (!scaled) continue;
      auto size = DecodedSize(d.str(rel));
      EXPECT_TRUE(size == std::make_pair(800, 531) || size == std::make_pair(600, 800) ||
                  size == std::make_pair(600, 400))
          << rel;
    }
    if (c.subfolders) {
      std::string s = c.suffix ? "extracted_jpegs_800/S_VLTR_600.jpg" : "extracted_jpegs_800/S.jpg";
      EXPECT_TRUE(read_file_bytes(d.str(s)) == small);
      std::string l = c.suffix ? "extracted_jpegs_800/L_VLTR_800.jpg" : "extracted_jpegs_800/L.jpg";
      EXPECT_EQ(DecodedSize(d.str(l)), std::make_pair(800, 531));
      std::string p = c.suffix ? "extracted_jpegs_800/P_VLTR_600.jpg" : "extracted_jpegs_800/P.jpg";
      EXPECT_EQ(DecodedSize(d.str(p)), std::make_pair(600, 800));
    }
  }
}

// A scaled copy keeps the preview's metadata segments.
TEST_F(ExtractionJobTest, ScaledCopyKeepsExif) {
  auto jpeg = encoded(test_jpeg::three_two);
  WriteRaw(dir.str("IMG_9.CR2"), jpeg);
  JobRun run = RunJob({dir.str("IMG_9.CR2")}, Options(true));
  ASSERT_EQ(run.counters.newCount, 1);
  auto scaled = read_file_bytes(dir.str("extracted_jpegs_800/IMG_9_VLTR_800.jpg"));
  ASSERT_TRUE(raw_builder::starts_with_exif(scaled));
  std::size_t len = (std::size_t{jpeg[4]} << 8) | jpeg[5];
  ASSERT_GE(scaled.size(), 4 + len);
  EXPECT_TRUE(std::equal(jpeg.begin() + 2, jpeg.begin() + 4 + static_cast<std::ptrdiff_t>(len), scaled.begin() + 2));
}

// IMG_1.CR2 and IMG_1.NEF share their outputs: the first in walk order
// (name order) writes them, the other counts as existing, whatever the
// number of workers.
TEST_F(ExtractionJobTest, CollisionGoesToTheFirstInWalkOrder) {
  for (unsigned workers : {1u, 2u, 4u}) {
    SCOPED_TRACE(workers);
    TempDir d;
    auto cr2 = encoded(test_jpeg::landscape), nef = encoded(test_jpeg::three_two);
    WriteRaw(d.str("IMG_1.NEF"), nef, Layout::kSubIfdJpeg);
    WriteRaw(d.str("IMG_1.CR2"), cr2);
    JobRun run = RunJob({d.str()}, Options(true, true, true, workers));
    EXPECT_EQ(run.counters.filesScanned, 2);
    EXPECT_EQ(run.counters.newCount, 1);
    EXPECT_EQ(run.counters.existingCount, 1);
    EXPECT_TRUE(read_file_bytes(d.str("extracted_jpegs/IMG_1_VLTR.jpg")) == cr2);
    // The NEF's scaled pass sizes its copy from the CR2's output, so it meets
    // the CR2's copy too.
    EXPECT_TRUE(fs::exists(d.str("extracted_jpegs_800/IMG_1_VLTR_800.jpg")));
    EXPECT_EQ(std::distance(fs::directory_iterator(d.str("extracted_jpegs_800")), fs::directory_iterator()), 1);
  }
}

// Cancel: the files finished so far stay; the job is not done and has no
// time.
TEST_F(ExtractionJobTest, CancelStopsAfterTheCurrentFile) {
  // Requests the cancel as soon as the first file is counted.
  class CancellingHost : public JobHost {
   public:
    void Lock() override { mutex_.lock(); }
    void Unlock() override {
      if (counters_.filesDone >= 1) counters_.cancelRequested = true;
      mutex_.unlock();
    }
    JobCounters& Counters() override { return counters_; }
    void AddFailure(FileFailure) override {}
    void AddOutput(OutputRecord o) override { outputs.push_back(o); }
    std::vector<OutputRecord> outputs;

   private:
    std::mutex mutex_;
    JobCounters counters_;
  };
  auto jpeg = encoded(test_jpeg::three_two);
  for (int i = 1; i <= 4; ++i) WriteRaw(dir.str("IMG_" + std::to_string(i) + ".CR2"), jpeg, Layout::kStripJpeg, i);
  CancellingHost host;
  RunExtraction(host, {native_path(dir.str())}, Options());
  EXPECT_EQ(host.Counters().filesScanned, 4);
  EXPECT_EQ(host.Counters().newCount, 1);
  EXPECT_FALSE(host.Counters().jobDone);
  EXPECT_EQ(host.Counters().closeCountdown, 0);
  EXPECT_EQ(host.Counters().elapsedSeconds, 0);
  EXPECT_TRUE(fs::exists(dir.str("extracted_jpegs/IMG_1_VLTR.jpg")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.str("extracted_jpegs")), fs::directory_iterator()), 1);
}

// A cancel that arrives while the walk is still testing files ends the job
// there: nothing is written and the job is not done, also when no
// candidate had been found yet.
TEST_F(ExtractionJobTest, CancelDuringTheWalkWritesNothingAndIsNotDone) {
  auto jpeg = encoded(test_jpeg::three_two);
  // Walked first: not a RAW file, so the walk has found no candidate when
  // it sees the cancel.
  raw_builder::write_file(dir.str("0_readme.txt"), {'h', 'i'});
  for (int i = 1; i <= 3; ++i) WriteRaw(dir.str("IMG_" + std::to_string(i) + ".CR2"), jpeg, Layout::kStripJpeg, i);
  for (unsigned workers : {1u, 3u}) {
    SCOPED_TRACE(workers);
    JobProgress progress;
    progress.RequestCancel();
    JobOptions options = Options();
    options.workers = workers;
    RunExtraction(progress, {native_path(dir.str())}, options);
    JobCounters c = progress.Snapshot();
    EXPECT_FALSE(c.jobDone);
    EXPECT_EQ(c.newCount, 0);
    EXPECT_EQ(c.closeCountdown, 0);
    EXPECT_FALSE(fs::exists(dir.str("extracted_jpegs/IMG_1_VLTR.jpg")));
  }
}

// What the walk takes: direct files only (sub-folders when recursive), no
// JPEG names whatever their content, files decided by content.
TEST_F(ExtractionJobTest, WalkSelectsByNameAndContent) {
  auto jpeg = encoded(test_jpeg::three_two);
  WriteRaw(dir.str("a.NEF"), jpeg, Layout::kSubIfdJpeg);
  WriteRaw(dir.str("b/c.NEF"), jpeg, Layout::kSubIfdJpeg);
  for (const char* name : {"x.JPG", "y.Jpeg", "z.jpe"}) WriteRaw(dir.str(name), jpeg);
  WriteRaw(dir.str("w.jpgz"), jpeg);
  WriteRaw(dir.str("noextension"), jpeg);
  raw_builder::write_file(dir.str("notes.txt"), {'h', 'i'});
  raw_builder::write_file(dir.str("plain.jpg.raw"), jpeg);  // a bare JPEG is no RAW file

  JobRun flat = RunJob({dir.str()}, Options());
  EXPECT_EQ(flat.counters.filesScanned, 3);
  EXPECT_EQ(flat.counters.newCount, 3);
  std::set<std::string> written;
  for (auto& o : flat.outputs) written.insert(fs::path(o.outputPath).filename().string());
  EXPECT_EQ(written, (std::set<std::string>{"a_VLTR.jpg", "w_VLTR.jpg", "noextension_VLTR.jpg"}));
  EXPECT_FALSE(fs::exists(dir.str("b/extracted_jpegs")));

  JobRun deep = RunJob({dir.str()}, [] {
    JobOptions o = Options();
    o.recursive = true;
    return o;
  }());
  EXPECT_EQ(deep.counters.filesScanned, 4);
  EXPECT_EQ(deep.counters.newCount, 1);
  EXPECT_EQ(deep.counters.existingCount, 3);
  EXPECT_TRUE(fs::exists(dir.str("b/extracted_jpegs/c_VLTR.jpg")));
}

// Files in a folder that are no RAW files, or RAW files without a preview,
// are passed over and counted; a file named in the selection that gives
// nothing is reported with why.
TEST_F(ExtractionJobTest, NoCandidatesCompletesAtOnceAndNamedFilesThatGiveNothingAreReported) {
  raw_builder::write_file(dir.str("notes.txt"), {'h', 'i'});
  raw_builder::write_file(dir.str("camera.jpeg.bin"), encoded(test_jpeg::three_two));  // a JPEG by its bytes
  raw_builder::write_file(dir.str("photo.jpg"), encoded(test_jpeg::three_two));
  raw_builder::RawSpec placeholder;  // a RAW file whose preview slot holds no JPEG
  placeholder.jpeg = std::vector<std::uint8_t>(64, 0);
  placeholder.exif = true;
  raw_builder::write_file(dir.str("empty.CR2"), raw_builder::build(placeholder));
  for (unsigned workers : {1u, 3u}) {
    SCOPED_TRACE(workers);
    JobRun run = RunJob({dir.str()}, Options(true, true, true, workers));
    EXPECT_TRUE(run.counters.jobDone);
    EXPECT_EQ(run.counters.filesScanned, 0);
    EXPECT_EQ(run.counters.newCount + run.counters.existingCount, 0);
    EXPECT_EQ(run.counters.notRawCount, 2);  // photo.jpg is not read
    EXPECT_EQ(run.counters.noPreviewCount, 1);
    EXPECT_TRUE(run.failures.empty());

    run = RunJob({dir.str("notes.txt"), dir.str("photo.jpg"), dir.str("gone.jpg"), dir.str("empty.CR2")},
                 Options(true, true, true, workers));
    EXPECT_TRUE(run.counters.jobDone);
    EXPECT_EQ(run.counters.filesScanned, 0);
    ASSERT_EQ(run.failures.size(), 4u);
    EXPECT_EQ(run.failures[0].rawPath, native_path(dir.str("notes.txt")));
    EXPECT_EQ(run.failures[0].reason, FailureReason::kNotRaw);
    EXPECT_EQ(run.failures[1].reason, FailureReason::kJpegFile);
    EXPECT_EQ(run.failures[2].reason, FailureReason::kUnreadable);
    EXPECT_EQ(run.failures[3].reason, FailureReason::kRawWithoutPreview);
  }
  EXPECT_FALSE(fs::exists(dir.str("extracted_jpegs")));
}

// Files that give no output are reported with the reason, and count in
// neither counter.
TEST_F(ExtractionJobTest, ReportsFailuresWithReasons) {
  auto jpeg = encoded(test_jpeg::landscape);
  // Damaged entropy data: the header is fine, the picture cannot be decoded.
  std::vector<std::uint8_t> damaged(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 3));
  damaged.push_back(0xFF);
  damaged.push_back(0xD9);
  WriteRaw(dir.str("BAD.CR2"), damaged);
  JobRun run = RunJob({dir.str("BAD.CR2"), dir.str("missing.CR2")}, Options(true, true, false));
  ASSERT_EQ(run.failures.size(), 2u);
  std::map<std::string, FailureReason> reasons;
  for (auto& f : run.failures) reasons[fs::path(f.rawPath).filename().string()] = f.reason;
  EXPECT_EQ(reasons["missing.CR2"], FailureReason::kUnreadable);
  EXPECT_EQ(reasons["BAD.CR2"], FailureReason::kScaleFailed);
  EXPECT_EQ(run.counters.newCount, 1);  // the native output was written
  // No full-size file under the scaled name and no temporary file anywhere.
  std::set<std::string> files;
  for (auto& [rel, bytes] : Tree(dir.path())) files.insert(rel);
  EXPECT_EQ(files, (std::set<std::string>{"BAD.CR2", "BAD_VLTR.jpg"}));
}

// Regression: an 11648 x 8736 preview (a 100-megapixel camera) was taken
// for undecodable, so with sub-folders a full-size copy went into the scaled
// folder as GFX_VLTR_0.jpg (the dry run had said GFX_VLTR_800.jpg), and
// beside the RAW file no copy was made, all without a word. A preview that
// cannot be read has its failure reported and nothing under a scaled name.
TEST_F(ExtractionJobTest, LargePreviewGetsItsScaledCopyNeverAFullSizeOneUnderAScaledName) {
  WriteRaw(dir.str("GFX.RAF"), flat_jpeg::mid_grey(11648, 8736));
  // A preview whose frame header is too short to hold a size.
  std::vector<std::uint8_t> unreadable = flat_jpeg::mid_grey(640, 480);
  const std::uint8_t bad_frame[] = {0xFF, 0xC0, 0x00, 0x02};
  unreadable.insert(unreadable.begin() + 2, std::begin(bad_frame), std::end(bad_frame));
  WriteRaw(dir.str("BAD.RAF"), unreadable);
  for (bool subfolders : {true, false}) {
    SCOPED_TRACE(subfolders ? "sub-folders" : "beside");
    const std::string scaled = subfolders ? "extracted_jpegs_800/GFX_VLTR_800.jpg" : "GFX_VLTR_800.jpg";
    JobOptions dry = Options(true, true, subfolders);
    dry.dryRun = true;
    JobRun planned = RunJob({dir.str("GFX.RAF")}, dry);
    ASSERT_EQ(planned.outputs.size(), 2u);
    EXPECT_EQ(planned.outputs[1].outputPath, native_path(dir.str(scaled)));

    JobRun run = RunJob({dir.str("GFX.RAF"), dir.str("BAD.RAF")}, Options(true, true, subfolders));
    EXPECT_EQ(DecodedSize(dir.str(scaled)), std::make_pair(800, 600));
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_EQ(fs::path(run.failures[0].rawPath).filename(), "BAD.RAF");
    EXPECT_EQ(run.failures[0].reason, FailureReason::kScaleFailed);
    std::set<std::string> files;
    for (auto& [rel, bytes] : Tree(dir.path())) files.insert(fs::path(rel).filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"GFX.RAF", "BAD.RAF", "GFX_VLTR.jpg", "BAD_VLTR.jpg", "GFX_VLTR_800.jpg"}));
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.is_directory()) fs::remove_all(e.path());
      else if (e.path().extension() == ".jpg") fs::remove(e.path());
  }
}

// Regression: the scaled copy went through two nested temporary files named
// after it, about 55 bytes longer, so legal names from about 190 bytes on
// failed. It is now made in memory and written through one short temporary
// name: a copy named with 250 bytes is written, and nothing else is left.
TEST_F(ExtractionJobTest, ScaledCopyWithA250ByteNameIsWrittenAndLeavesNoTemporary) {
  const std::string stem(237, 's');  // + "_VLTR_400.jpg" = 250 bytes
  WriteRaw(dir.str(stem + ".CR2"), flat_jpeg::mid_grey(640, 480));
  JobOptions options = Options(true);
  options.settings.maxWidth = 400;
  options.settings.maxHeight = 300;
  JobRun run = RunJob({dir.str()}, options);
  EXPECT_TRUE(run.failures.empty());
  EXPECT_EQ(DecodedSize(dir.str("extracted_jpegs_400/" + stem + "_VLTR_400.jpg")), std::make_pair(400, 300));
  EXPECT_EQ(Tree(dir.path()).size(), 3u);  // the RAW file, the native output and the copy
}

// A dry run writes nothing and reports exactly what a real run then writes.
TEST_F(ExtractionJobTest, DryRunPredictsTheRealRun) {
  WriteRaw(dir.str("IMG_1.CR2"), encoded(test_jpeg::landscape));
  WriteRaw(dir.str("IMG_1.NEF"), encoded(test_jpeg::portrait), Layout::kSubIfdJpeg);
  WriteRaw(dir.str("IMG_3.RW2"), encoded(test_jpeg::phone), Layout::kTag46Jpeg);
  auto before = Tree(dir.path());
  JobOptions dry = Options(true);
  dry.dryRun = true;
  JobRun planned = RunJob({dir.str()}, dry);
  EXPECT_TRUE(Tree(dir.path()) == before);
  JobRun real = RunJob({dir.str()}, Options(true));
  EXPECT_EQ(planned.counters.newCount, real.counters.newCount);
  EXPECT_EQ(planned.counters.existingCount, real.counters.existingCount);
  ASSERT_EQ(planned.outputs.size(), real.outputs.size());
  for (std::size_t i = 0; i < real.outputs.size(); ++i) EXPECT_EQ(planned.outputs[i].outputPath, real.outputs[i].outputPath);
}

// Any number of workers writes the same files with the same bytes and
// counts the same, from a mixed folder with collisions, existing outputs
// and scaled copies.
TEST_F(ExtractionJobTest, ParallelWorkersMatchOneWorker) {
  test_jpeg::JpegSpec (*const pictures[])() = {test_jpeg::landscape, test_jpeg::three_two, test_jpeg::portrait,
                                               test_jpeg::phone, test_jpeg::compact};
  auto build = [&](const TempDir& d) {
    int i = 0;
    for (const char* name : {"A.CR2", "A.NEF", "B.CR2", "C.RW2", "C.x.NEF", "D.CR2", "E.NEF", "F", "G.CR2",
                             "H.RW2", "H.CR2", "I.NEF"}) {
      Layout layout = static_cast<Layout>(i % 3);
      WriteRaw(d.str(name), encoded(pictures[i % 5]), layout, static_cast<std::uint8_t>(i));
      ++i;
    }
    raw_builder::write_file(d.str("extracted_jpegs/D_VLTR.jpg"), {'o', 'l', 'd'});
  };
  std::map<std::string, std::vector<std::uint8_t>> reference;
  JobCounters refCounters;
  for (unsigned workers : {1u, 2u, 3u, 8u}) {
    SCOPED_TRACE(workers);
    TempDir d;
    build(d);
    JobRun run = RunJob({d.str()}, Options(true, true, true, workers));
    auto tree = Tree(d.path());
    if (workers == 1) {
      reference = tree;
      refCounters = run.counters;
      EXPECT_EQ(run.counters.filesScanned, 12);
      EXPECT_GT(run.counters.existingCount, 0);
      continue;
    }
    EXPECT_EQ(run.counters.newCount, refCounters.newCount);
    EXPECT_EQ(run.counters.existingCount, refCounters.existingCount);
    EXPECT_EQ(run.counters.filesScanned, refCounters.filesScanned);
    ASSERT_EQ(tree.size(), reference.size());
    for (auto& [rel, bytes] : reference) {
      auto it = tree.find(rel);
      ASSERT_NE(it, tree.end()) << rel;
      EXPECT_TRUE(it->second == bytes) << rel;
    }
  }
}

// The progress texts the dialog and the command line show.
// A file whose preview runs past its end cannot be extracted, so it is no
// candidate: the job once counted it, failed on it and ended with a failure.
TEST(ExtractionJobCandidates, PreviewRunningPastTheEndIsNoCandidateAndNoFailure) {
  TempDir dir;
  raw_builder::RawSpec spec;
  spec.jpeg = raw_builder::stand_in_jpeg(4000);
  ASSERT_TRUE(raw_builder::write_file(dir.str("CUT.CR2"), raw_builder::build_cut_short(spec, 100)));
  ProbeReport report;
  ASSERT_TRUE(probe_report(native_path(dir.str("CUT.CR2")), report));
  ASSERT_EQ(report.preview_length, 4000u);  // located, but not all there
  JobRun run = RunJob({dir.str()}, Options());
  EXPECT_TRUE(run.counters.jobDone);
  EXPECT_EQ(run.counters.filesScanned, 0);
  EXPECT_TRUE(run.failures.empty());
  EXPECT_FALSE(fs::exists(dir.str("extracted_jpegs")));
}

TEST(ProgressTextTest, TimeTextAndStatusLines) {
  struct Case {
    std::int64_t seconds;
    const char* text;
  } times[] = {{0, "0 sec"}, {5, "5 sec"}, {59, "59 sec"}, {60, "1:00 min"}, {125, "2:05 min"}, {3725, "1:02:05"}};
  for (const Case& c : times) EXPECT_EQ(FormatTimeText(c.seconds), c.text) << c.seconds;

  JobCounters done;
  done.filesScanned = 3;
  done.newCount = 3;
  done.elapsedSeconds = 125;
  done.jobDone = true;
  done.closeCountdown = 100;
  EXPECT_EQ(StatusText(done),
            "Files Scanned: 3\nJPEGs Extracted: 3 Total - 3 New\nTotal Time: 2:05 min\n"
            "Average Time per File: 41.67 sec\n\nDialog box will close in 10 seconds");
  JobCounters existing;
  existing.filesScanned = 4;
  existing.existingCount = 4;
  existing.jobDone = true;
  existing.closeCountdown = 19;
  EXPECT_EQ(StatusText(existing),
            "Files Scanned: 4\nJPEGs Extracted: 4 Total - 0 New\nTotal Time: 0 sec\n"
            "Average Time per File: 0.00 sec\n\nDialog box will close in 1 seconds");
  JobCounters running;
  running.filesScanned = 7;
  running.newCount = 2;
  running.existingCount = 1;
  EXPECT_EQ(StatusText(running), "Files Scanned: 7\nJPEGs Extracted: 3 Total - 2 New");
}

// The progress dialog's walk and failure lines: singular and plural, the
// system's reason without its full stop, else the job's own reason.
TEST(ProgressTextTest, ScanningAndFailureLines) {
  EXPECT_EQ(ScanningText(0), "Scanning...");
  EXPECT_EQ(ScanningText(1), "Scanning... 1 file found");
  EXPECT_EQ(ScanningText(20000), "Scanning... 20000 files found");
  struct Case {
    std::int32_t failed;
    FailureReason reason;
    const char* detail;
    const char* line;
  } cases[] = {
      {3, FailureReason::kWriteFailed, "Access is denied.\r\n", "Could not extract 3 files: Access is denied"},
      {1, FailureReason::kWriteFailed, "No space left on device", "Could not extract 1 file: No space left on device"},
      {2, FailureReason::kRawWithoutPreview, "", "Could not extract 2 files: no embedded JPEG preview"},
      {1, FailureReason::kFolderFailed, "a file of that name is in the way",
       "Could not extract 1 file: a file of that name is in the way"},
  };
  for (const Case& c : cases) {
    FileFailure failure{0, {}, {}, c.reason, c.detail};
    EXPECT_EQ(FailureLine(c.failed, FailureReasonForUser(failure)), c.line);
  }
}

// The command's live line never reaches the last three columns (no wrap,
// room for an echoed ^C) at any width, whatever the numbers; at 60 columns
// the count, the bar and, once the walk is done, the time left still show.
TEST(ProgressTextTest, ProgressLineFitsEveryWidth) {
  JobCounters walking;
  JobCounters midway;
  midway.filesScanned = 103;
  midway.filesDone = 40;
  midway.newCount = 38;
  midway.existingCount = 2;
  midway.failedCount = 1;
  JobCounters huge;
  huge.filesScanned = 2000000000;
  huge.filesDone = 1999999999;
  huge.newCount = 1999999990;
  huge.existingCount = 9;
  huge.failedCount = 123456789;
  for (const JobCounters* c : {&walking, &midway, &huge})
    for (int columns = 0; columns <= 240; ++columns) {
      const std::string line = ProgressLineText(*c, 4000.0, 3999.0, columns);
      EXPECT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 3, 0))) << columns << ": " << line;
    }
  const std::string at60 = ProgressLineText(midway, 2.0, 1.0, 60);
  EXPECT_EQ(at60.rfind("[", 0), 0u) << at60;
  for (const char* part : {"40/103", "new 38", "failed 1", "ETA 2 sec"})
    EXPECT_NE(at60.find(part), std::string::npos) << part << " in " << at60;
  const std::string wide = ProgressLineText(midway, 2.0, 1.0, 200);
  EXPECT_NE(wide.find("40 files/s"), std::string::npos) << wide;
  // Before the walk's end there is no rate to tell the time left by.
  EXPECT_EQ(ProgressLineText(midway, 2.0, 0.0, 200).find("ETA"), std::string::npos);
}

// The frame-size reader used to plan dry runs stays inside its buffer.
TEST(JpegFrameSizeTest, ReadsTheFrameHeaderWithinBounds) {
  // SOI, an APP0 of 16 bytes, SOF0 with height 0x0102 and width 0x0304.
  std::vector<std::uint8_t> good = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
  good.resize(good.size() + 14, 0);
  const std::vector<std::uint8_t> sof = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0x02, 0x03, 0x04, 0x03};
  good.insert(good.end(), sof.begin(), sof.end());
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool found;
  } cases[] = {
      {"complete", good, true},
      {"cut inside the frame header", std::vector<std::uint8_t>(good.begin(), good.end() - 3), false},
      {"cut inside the APP0 segment", std::vector<std::uint8_t>(good.begin(), good.begin() + 12), false},
      {"no start-of-image", std::vector<std::uint8_t>(good.begin() + 2, good.end()), false},
      {"scan before any frame", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 1, 2, 3, 4, 5, 6}, false},
      {"segment length below 2", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xC0, 0, 17, 8, 1, 2, 3, 4}, false},
      {"empty", {}, false},
  };
  for (const Case& c : cases) {
    std::int32_t w = -1, h = -1;
    EXPECT_EQ(JpegFrameSize(c.bytes.data(), c.bytes.size(), w, h), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(w, 0x0304) << c.name;
      EXPECT_EQ(h, 0x0102) << c.name;
    } else {
      EXPECT_EQ(w, -1) << c.name;
    }
  }
  // A whole file: the size the decoder reads.
  TempDir dir;
  auto jpeg = encoded(test_jpeg::landscape);
  raw_builder::write_file(dir.str("l.jpg"), jpeg);
  std::int32_t w = 0, h = 0;
  ASSERT_TRUE(JpegFrameSize(jpeg.data(), jpeg.size(), w, h));
  EXPECT_EQ(DecodedSize(dir.str("l.jpg")), std::make_pair(int{w}, int{h}));
}

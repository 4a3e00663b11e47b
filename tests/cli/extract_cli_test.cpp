// End-to-end runs of the built `veltrano` program on folders of RAW-like
// files built around JPEGs encoded at test time: files on disk and their bytes, scaled
// copies, the summary text, exit codes, dry runs, settings and Ctrl-C.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "probe/exif_mode.h"
#include "support/flat_jpeg.h"
#include "support/folder_test.h"
#include "support/probe_fixture.h"
#include "veltrano_version.h"
#include "support/raw_builder.h"
#include "support/test_jpeg.h"

namespace fs = std::filesystem;
using raw_builder::Layout;
using test_jpeg::JpegSpec;

namespace {

const std::string kBinary = VELTRANO_BINARY_DIR "/cli/veltrano";

using Result = CommandResult;

class CliTest : public FolderTest {
 protected:
  void SetUp() override {
    FolderTest::SetUp();
    fs::create_directories(root_ / "home");
    fs::create_directories(photos());
  }

  fs::path photos() const { return root_ / "photos"; }
  std::string at(const std::string& rel) const { return (photos() / rel).string(); }

  // Runs the program with HOME and XDG_CONFIG_HOME inside the test folder,
  // so no real settings are read or touched.
  Result Veltrano(const std::string& args, const std::string& cwd = "", const std::string& env = "") {
    return RunCommand((cwd.empty() ? "" : "cd '" + cwd + "' && ") + "PATH=/usr/bin:/bin TZ=UTC " + env + " HOME='" + (root_ / "home").string() +
                          "' XDG_CONFIG_HOME='" + (root_ / "config").string() + "' '" + kBinary + "' " + args,
                      root_ / "stderr.txt");
  }

  std::vector<std::uint8_t> MakeRaw(const std::string& rel, JpegSpec (*picture)(), Layout layout,
                                    std::size_t filler = 4096) {
    raw_builder::RawSpec spec;
    spec.layout = layout;
    spec.jpeg = test_jpeg::encoded(picture);
    spec.fillerBytes = filler;
    fs::create_directories(fs::path(at(rel)).parent_path());
    EXPECT_TRUE(raw_builder::write_file(at(rel), raw_builder::build(spec)));
    return spec.jpeg;
  }

  // Every file under base (the photos) with its bytes; with folders, also
  // every folder (ending in '/').
  std::map<std::string, std::vector<std::uint8_t>> Tree(const fs::path& base = {}, bool folders = false) const {
    const fs::path top = base.empty() ? photos() : base;
    std::map<std::string, std::vector<std::uint8_t>> out;
    for (auto& e : fs::recursive_directory_iterator(top)) {
      const std::string rel = fs::relative(e.path(), top).string();
      if (folders && e.is_directory()) out[rel + "/"];
      if (e.is_regular_file()) out[rel] = read_file_bytes(e.path().string());
    }
    return out;
  }
};

// Frame size from a JPEG's SOF segment (0 x 0 when absent).
std::pair<int, int> FrameSize(const std::vector<std::uint8_t>& j) {
  std::size_t p = 2;
  while (p + 9 < j.size() && j[p] == 0xFF) {
    int m = j[p + 1];
    std::size_t len = (std::size_t{j[p + 2]} << 8) | j[p + 3];
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC)
      return {(j[p + 7] << 8) | j[p + 8], (j[p + 5] << 8) | j[p + 6]};
    p += 2 + len;
  }
  return {0, 0};
}

// The summary's first lines: RAW files scanned, new, already there.
std::string Summary(int scanned, int total, int fresh) {
  return "RAW files scanned: " + std::to_string(scanned) + "\nNew: " + std::to_string(fresh) +
         "\nAlready there: " + std::to_string(total - fresh) + "\n";
}

const std::regex kTimeLines(
    R"(Total time: (\d+:\d\d:\d\d|\d+:\d\d min|\d+ sec)\nAverage time per new file: \d+\.\d\d sec\n)");

}  // namespace

// Default settings: sub-folder and suffix, previews byte for byte (the
// RAW's Exif inserted when the preview has none), the summary, then a second run that
// finds everything existing and changes nothing.
TEST_F(CliTest, ExtractsEveryLayoutThenFindsThemExisting) {
  auto d70 = MakeRaw("IMG_1.CR2", test_jpeg::landscape, Layout::kStripJpeg);
  auto kodak = MakeRaw("DSC_2.NEF", test_jpeg::portrait, Layout::kSubIfdJpeg);
  auto iphone = MakeRaw("P103.RW2", test_jpeg::phone, Layout::kTag46Jpeg);
  raw_builder::write_file(at("readme.txt"), {'x'});

  Result r = Veltrano("'" + photos().string() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(Summary(3, 3, 3), 0), 0u) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, kTimeLines)) << r.out;
  EXPECT_TRUE(read_file_bytes(at("extracted_jpegs/IMG_1_VLTR.jpg")) == d70);
  EXPECT_TRUE(read_file_bytes(at("extracted_jpegs/DSC_2_VLTR.jpg")) == kodak);
  // No Exif in the preview: the RAW's full Exif goes in after the start.
  auto out = read_file_bytes(at("extracted_jpegs/P103_VLTR.jpg"));
  ASSERT_GT(out.size(), iphone.size());
  EXPECT_TRUE(raw_builder::starts_with_exif(out));
  EXPECT_TRUE(std::equal(iphone.begin() + 2, iphone.end(), out.end() - (iphone.size() - 2)));
  const std::string block(out.begin() + 12, out.end() - (iphone.size() - 2));
  EXPECT_NE(block.find("Veltrano v1.50"), std::string::npos);
  EXPECT_NE(block.find("Canon"), std::string::npos);
  EXPECT_NE(block.find("EOS Test"), std::string::npos);

  auto before = Tree();
  Result again = Veltrano("extract '" + photos().string() + "'");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out.rfind(Summary(3, 3, 0), 0), 0u) << again.out;
  EXPECT_NE(again.out.find("Average time per new file: 0.00 sec"), std::string::npos);
  EXPECT_TRUE(Tree() == before);
}

// Scaled copies: sizes fit the box, the source's Exif is carried over, the
// four layouts name them as the options say.
TEST_F(CliTest, ScaledCopiesFollowTheOptions) {
  auto d70 = MakeRaw("IMG_1.CR2", test_jpeg::landscape, Layout::kStripJpeg);  // 1504 x 1000
  MakeRaw("IMG_2.NEF", test_jpeg::portrait, Layout::kSubIfdJpeg);            // 864 x 1152
  struct Case {
    std::string options;
    std::map<std::string, std::pair<int, int>> scaled;
  } cases[] = {
      {"--sizes smaller",
       {{"extracted_jpegs_800/IMG_1_VLTR_800.jpg", {800, 531}}, {"extracted_jpegs_800/IMG_2_VLTR_600.jpg", {600, 800}}}},
      {"--sizes smaller --max-width 640 --max-height 480 --beside",
       {{"IMG_1_VLTR_640.jpg", {640, 425}}, {"IMG_2_VLTR_360.jpg", {360, 480}}}},
      {"--sizes smaller --no-suffix --subfolders --max-width 1000",
       {{"extracted_jpegs_1000/IMG_1.jpg", {1000, 664}}, {"extracted_jpegs_1000/IMG_2.jpg", {600, 800}}}},
      {"--sizes smaller --no-suffix --beside --max-height 300",
       {{"IMG_1_451.jpg", {451, 300}}, {"IMG_2_225.jpg", {225, 300}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Result r = Veltrano(c.options + " '" + photos().string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    for (auto& [rel, size] : c.scaled) {
      auto bytes = read_file_bytes(at(rel));
      ASSERT_FALSE(bytes.empty()) << rel;
      EXPECT_EQ(FrameSize(bytes), size) << rel;
      ASSERT_TRUE(raw_builder::starts_with_exif(bytes)) << rel;
    }
    // IMG_1's copy keeps the camera's Exif segment unchanged.
    auto copy = read_file_bytes(at(c.scaled.begin()->first));
    std::size_t len = (std::size_t{d70[4]} << 8) | d70[5];
    ASSERT_GE(copy.size(), len + 4);
    EXPECT_TRUE(std::equal(d70.begin(), d70.begin() + static_cast<std::ptrdiff_t>(len + 4), copy.begin()));
  }
}

// --quality reaches the encoder of scaled copies (they were always 95, so a
// small copy could outweigh its source), and --save keeps it for later runs;
// --no-settings then runs with the defaults again.
TEST_F(CliTest, QualityOfScaledCopiesIsChosenAndStored) {
  MakeRaw("IMG_1.CR2", test_jpeg::landscape, Layout::kStripJpeg);  // 1504 x 1000
  const std::string copy = at("extracted_jpegs_800/IMG_1_VLTR_800.jpg");
  std::map<std::string, std::uintmax_t> sizes;
  for (const char* options : {"--sizes smaller", "--sizes smaller --quality 20 --save", "--sizes smaller",
                              "--sizes smaller --no-settings"}) {
    SCOPED_TRACE(options);
    fs::remove_all(photos() / "extracted_jpegs_800");
    ASSERT_EQ(Veltrano(std::string(options) + " -q '" + photos().string() + "'").status, 0);
    EXPECT_EQ(FrameSize(read_file_bytes(copy)), std::make_pair(800, 531));
    sizes[options] = fs::file_size(copy);
  }
  EXPECT_LT(sizes["--sizes smaller --quality 20 --save"] * 2, sizes["--sizes smaller --no-settings"]);
  EXPECT_EQ(sizes["--sizes smaller"], sizes["--sizes smaller --quality 20 --save"]);  // the stored quality
  EXPECT_NE(Veltrano("settings").out.find("Quality: 20\n"), std::string::npos);
  EXPECT_EQ(Veltrano("--quality 101 '" + photos().string() + "'").status, 2);
}

// Regression: --max-width and --max-height were silently ignored unless
// --sizes smaller was given or stored. A box now implies scaled copies, and
// with --sizes native the command says why it ignores the box.
TEST_F(CliTest, BoxAloneMakesScaledCopiesAndNativeSizesSayWhyTheyIgnoreIt) {
  raw_builder::RawSpec spec;
  spec.jpeg = flat_jpeg::mid_grey(640, 480);
  ASSERT_TRUE(raw_builder::write_file(at("IMG_1.CR2"), raw_builder::build(spec)));
  Result r = Veltrano("--max-width 400 --max-height 300 -q '" + photos().string() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FrameSize(read_file_bytes(at("extracted_jpegs_400/IMG_1_VLTR_400.jpg"))), std::make_pair(400, 300));

  fs::remove_all(photos() / "extracted_jpegs");
  fs::remove_all(photos() / "extracted_jpegs_400");
  r = Veltrano("--sizes native --max-width 400 -q '" + photos().string() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("--max-width and --max-height are ignored: --sizes native"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(at("extracted_jpegs/IMG_1_VLTR.jpg")));
  EXPECT_FALSE(fs::exists(photos() / "extracted_jpegs_400"));
}

// --dry-run lists the outputs and writes nothing, not even a folder; an
// output that is there already is never overwritten.
TEST_F(CliTest, DryRunAndExistingOutputs) {
  MakeRaw("IMG_1.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  MakeRaw("IMG_2.CR2", test_jpeg::landscape, Layout::kStripJpeg);
  auto before = Tree();
  Result dry = Veltrano("--dry-run --sizes smaller '" + photos().string() + "'");
  ASSERT_EQ(dry.status, 0) << dry.err;
  EXPECT_TRUE(Tree() == before);
  EXPECT_FALSE(fs::exists(at("extracted_jpegs")));
  EXPECT_NE(dry.out.find("would write " + at("extracted_jpegs/IMG_1_VLTR.jpg")), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("would write " + at("extracted_jpegs_800/IMG_2_VLTR_800.jpg")), std::string::npos);

  fs::create_directories(at("extracted_jpegs"));
  raw_builder::write_file(at("extracted_jpegs/IMG_1_VLTR.jpg"), {'k', 'e', 'e', 'p'});
  Result r = Veltrano("-q '" + photos().string() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(read_file_bytes(at("extracted_jpegs/IMG_1_VLTR.jpg")), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_TRUE(fs::exists(at("extracted_jpegs/IMG_2_VLTR.jpg")));
}

TEST_F(CliTest, ExitCodesAndFailureReports) {
  MakeRaw("IMG_1.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  raw_builder::write_file(at("notes.txt"), {'h', 'i'});
  raw_builder::write_file(at("IMG_1.JPG"), test_jpeg::encoded(test_jpeg::three_two));
  struct Case {
    std::string args;
    int status;
    std::string err;  // expected in stderr
  } cases[] = {
      {"", 2, "Usage: veltrano [extract] [OPTIONS] PATH..."},
      {"--bogus '" + photos().string() + "'", 2, "--bogus"},
      {"--jobs 0 '" + photos().string() + "'", 2, "jobs"},
      {"--sizes huge '" + photos().string() + "'", 2, "huge"},
      {"--suffix --no-suffix '" + photos().string() + "'", 2, "excludes"},
      {"'" + at("nothing-here.CR2") + "' '" + photos().string() + "'", 1, "nothing-here.CR2: could not be read"},
      // Files named that give nothing are reported, not passed over.
      {"'" + at("notes.txt") + "'", 1, "notes.txt: not a RAW file Veltrano reads"},
      {"'" + at("IMG_1.JPG") + "' '" + photos().string() + "'", 1, "IMG_1.JPG: a JPEG file itself"},
      {"-o '" + at("notes.txt") + "' '" + photos().string() + "'", 2, "notes.txt: not a folder"},
      {"-o '" + at("no/out") + "' '" + photos().string() + "'", 2, "neither it nor its parent folder exists"},
      {"'" + photos().string() + "'", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Result r = Veltrano(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (!c.err.empty()) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }
}

// --json gives the counts, outputs and failures in one document.
TEST_F(CliTest, JsonSummary) {
  MakeRaw("A.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  MakeRaw("A.NEF", test_jpeg::landscape, Layout::kSubIfdJpeg);  // same output name: counts as existing
  Result r = Veltrano("--json -j 2 '" + photos().string() + "' '" + at("gone.NEF") + "'");
  ASSERT_EQ(r.status, 1) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["files_scanned"], 2);
  EXPECT_EQ(j["new"], 1);
  EXPECT_EQ(j["existing"], 1);
  EXPECT_EQ(j["failed"], 1);
  EXPECT_EQ(j["cancelled"], false);
  // Both RAW files map to the one output: written for the first, found
  // there for the second.
  ASSERT_EQ(j["outputs"].size(), 2u);
  EXPECT_EQ(j["outputs"][0]["raw"], at("A.CR2"));
  EXPECT_EQ(j["outputs"][0]["status"], "written");
  EXPECT_EQ(j["outputs"][1]["raw"], at("A.NEF"));
  EXPECT_EQ(j["outputs"][1]["status"], "existing");
  EXPECT_EQ(j["outputs"][1]["output"], j["outputs"][0]["output"]);
  ASSERT_EQ(j["failures"].size(), 1u);
  EXPECT_EQ(j["failures"][0]["reason"], "could not be read");
}

// The counts of a run with scaled copies, a failure and a file that is no
// RAW file, in both forms; run again, --json still maps every RAW file to
// each of its JPEG files, now as found there. A folder given twice and a
// file named inside it count once.
TEST_F(CliTest, CountsAndOutputsOfARunAndOfItsRerun) {
  MakeRaw("A.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  MakeRaw("B.NEF", test_jpeg::portrait, Layout::kSubIfdJpeg);
  raw_builder::write_file(at("notes.txt"), {'h', 'i'});
  const std::string args = "--sizes smaller '" + photos().string() + "' '" + photos().string() + "' '" + at("B.NEF") +
                           "' '" + at("gone.CR2") + "'";
  Result first = Veltrano(args);
  EXPECT_EQ(first.status, 1) << first.err;
  EXPECT_EQ(first.out.rfind(Summary(2, 2, 2) + "Failed: 1\nNot RAW: 1\nJPEG files written: 4, already there: 0\n", 0),
            0u)
      << first.out;
  Result again = Veltrano("--json " + args);
  EXPECT_EQ(again.status, 1) << again.err;
  const auto j = nlohmann::json::parse(again.out);
  EXPECT_EQ(j["files_scanned"], 2);
  EXPECT_EQ(j["new"], 0);
  EXPECT_EQ(j["existing"], 2);
  EXPECT_EQ(j["failed"], 1);
  EXPECT_EQ(j["not_raw"], 1);
  EXPECT_EQ(j["outputs_written"], 0);
  EXPECT_EQ(j["outputs_existing"], 4);
  EXPECT_EQ(j["folders_not_entered"], 0);  // the output folders are not counted
  std::set<std::pair<std::string, std::string>> pairs;
  for (const auto& o : j["outputs"]) {
    EXPECT_EQ(o["status"], "existing");
    EXPECT_TRUE(fs::exists(o["output"].get<std::string>()));
    pairs.insert({o["raw"].get<std::string>(), o["output"].get<std::string>()});
  }
  EXPECT_EQ(pairs, (std::set<std::pair<std::string, std::string>>{
                       {at("A.CR2"), at("extracted_jpegs/A_VLTR.jpg")},
                       {at("A.CR2"), at("extracted_jpegs_800/A_VLTR_800.jpg")},
                       {at("B.NEF"), at("extracted_jpegs/B_VLTR.jpg")},
                       {at("B.NEF"), at("extracted_jpegs_800/B_VLTR_600.jpg")}}));

  // A sub-folder with RAW files in it is passed over without -r, and said so.
  MakeRaw("day2/C.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  Result flat = Veltrano("'" + photos().string() + "'");
  EXPECT_NE(flat.err.find("veltrano: 1 sub-folder was not entered (-r also extracts from sub-folders)"),
            std::string::npos)
      << flat.err;
  EXPECT_FALSE(fs::exists(at("day2/extracted_jpegs")));
}

// A dry run asks what the real run would meet: an output folder it cannot
// make (a file in its place; a folder it may not write in) fails the dry run
// as it fails the real one, instead of "would write".
TEST_F(CliTest, DryRunFailsWhereTheRunWouldFail) {
  MakeRaw("in_the_way/A.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  raw_builder::write_file(at("in_the_way/extracted_jpegs"), {'x'});
  MakeRaw("read_only/B.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  fs::permissions(at("read_only"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const bool rootWrites = geteuid() == 0;  // permissions do not stop root
  for (const char* folder : {"in_the_way", "read_only"}) {
    SCOPED_TRACE(folder);
    if (rootWrites && std::string(folder) == "read_only") continue;
    Result dry = Veltrano("--dry-run '" + at(folder) + "'");
    EXPECT_EQ(dry.status, 1) << dry.out;
    EXPECT_EQ(dry.out.find("would write"), std::string::npos) << dry.out;
    EXPECT_NE(dry.err.find("cannot create folder extracted_jpegs"), std::string::npos) << dry.err;
    Result real = Veltrano("'" + at(folder) + "'");
    EXPECT_EQ(real.status, 1);
    EXPECT_EQ(real.err, dry.err);
  }
  fs::permissions(at("read_only"), fs::perms::owner_write, fs::perm_options::add);
}

// Paths in messages and JSON never carry "." components, whether given
// relative to the working folder or with "/./" inside.
TEST_F(CliTest, PathsAreShownWithoutDotComponents) {
  MakeRaw("A.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  raw_builder::write_file(at("notes.txt"), {'h', 'i'});
  for (const auto& [args, cwd] : std::vector<std::pair<std::string, std::string>>{
           {"--json --dry-run . notes.txt", photos().string()},
           {"--json --dry-run photos/. ./photos/notes.txt", root_.string()},
           {"--json --dry-run '" + photos().string() + "/./' '" + photos().string() + "//./notes.txt'", ""}}) {
    SCOPED_TRACE(args);
    Result r = Veltrano(args, cwd);
    auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["outputs"].size(), 1u);
    EXPECT_EQ(j["outputs"][0]["raw"], at("A.CR2"));
    EXPECT_EQ(j["outputs"][0]["output"], at("extracted_jpegs/A_VLTR.jpg"));
    EXPECT_EQ(r.status, 1) << r.err;
    ASSERT_EQ(j["failures"].size(), 1u);
    EXPECT_EQ(j["failures"][0]["path"], at("notes.txt"));
    EXPECT_NE(r.err.find("veltrano: " + at("notes.txt") + ": not a RAW file Veltrano reads"), std::string::npos) << r.err;
  }
}

// --save stores the choices; `settings` shows them; --reset restores the
// defaults (the 76-byte file of a default record).
TEST_F(CliTest, SettingsSaveShowAndReset) {
  MakeRaw("IMG_1.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  Result shown = Veltrano("settings");
  ASSERT_EQ(shown.status, 0);
  const std::string cfg = (root_ / "config" / "Kerbelin" / "VLTR" / "VLTR.cfg").string();
  EXPECT_NE(shown.out.find(cfg), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Sizes: native"), std::string::npos);

  Result saved = Veltrano("--save --sizes smaller --max-width 1000 --beside --no-suffix -q '" + photos().string() + "'");
  ASSERT_EQ(saved.status, 0) << saved.err;
  EXPECT_TRUE(fs::exists(at("IMG_1.jpg")));
  Result after = Veltrano("settings");
  for (const char* line : {"Sizes: smaller", "Max width: 1000", "Max height: 800", "Suffix: off", "Subfolders: off"})
    EXPECT_NE(after.out.find(line), std::string::npos) << line << "\n" << after.out;
  // The saved choices apply to the next run without options.
  fs::remove(at("IMG_1.jpg"));
  ASSERT_EQ(Veltrano("-q '" + photos().string() + "'").status, 0);
  EXPECT_TRUE(fs::exists(at("IMG_1.jpg")));
  EXPECT_TRUE(fs::exists(at("IMG_1_1000.jpg")));

  Result reset = Veltrano("settings --reset");
  ASSERT_EQ(reset.status, 0);
  for (const char* line : {"Sizes: native", "Max width: 800", "Suffix: on", "Subfolders: on"})
    EXPECT_NE(reset.out.find(line), std::string::npos) << line;
  EXPECT_EQ(fs::file_size(cfg), 76u);
}

// `info` on a file that is no RAW file printed a report of zeros and said
// nothing was wrong; the summary did not count such files.
TEST_F(CliTest, InfoAndTheSummaryTellFilesThatAreNoRawFiles) {
  MakeRaw("IMG_1.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  raw_builder::write_file(at("notes.txt"), {'h', 'i', '\n'});
  raw_builder::write_file(at("camera.jpg"), test_jpeg::encoded(test_jpeg::three_two));
  raw_builder::RawSpec placeholder;  // a RAW file whose preview slot holds no JPEG
  placeholder.jpeg = std::vector<std::uint8_t>(64, 0);
  placeholder.exif = true;
  raw_builder::write_file(at("empty.CR2"), raw_builder::build(placeholder));
  struct Case {
    std::string file;
    int status;
    std::string kind, err;
  } cases[] = {
      {"IMG_1.CR2", 0, "raw", ""},
      {"empty.CR2", 0, "raw_without_preview", ""},
      {"notes.txt", 1, "not_raw", ": not a RAW file Veltrano reads\n"},
      {"camera.jpg", 1, "not_raw", ": not a RAW file Veltrano reads\n"},
      {"gone.CR2", 1, "", ": cannot open: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Result text = Veltrano("info '" + at(c.file) + "'");
    EXPECT_EQ(text.status, c.status);
    EXPECT_EQ(text.err, c.err.empty() ? "" : "veltrano: " + at(c.file) + c.err);
    EXPECT_EQ(text.out.empty(), c.status != 0) << text.out;
    Result json = Veltrano("info --json '" + at(c.file) + "'");
    EXPECT_EQ(json.status, c.status);
    const auto j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j.value("kind", ""), c.kind);
  }
  Result run = Veltrano("--json '" + photos().string() + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  const auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["not_raw"], 1);  // notes.txt; files named .jpg are not read
  EXPECT_EQ(j["without_preview"], 1);
  EXPECT_EQ(j["new"], 1);
}

// A dry run with --save wrote the settings file.
TEST_F(CliTest, DryRunWithSaveLeavesTheSettingsFileAlone) {
  MakeRaw("IMG_1.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  const fs::path cfg = root_ / "config" / "Kerbelin" / "VLTR" / "VLTR.cfg";
  Result r = Veltrano("--dry-run --save --sizes smaller '" + photos().string() + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(cfg));
  EXPECT_NE(r.err.find("--save is ignored in a dry run"), std::string::npos) << r.err;
  ASSERT_EQ(Veltrano("settings set sizes smaller").status, 0);
  const auto stored = read_file_bytes(cfg.string());
  EXPECT_EQ(Veltrano("--dry-run --save --sizes native --max-width 99 '" + photos().string() + "'").status, 0);
  EXPECT_EQ(read_file_bytes(cfg.string()), stored);
}

// --help-all was in the man page and the completion, but every command
// refused it; the exif key was missing from `settings set --help` and the
// completion. The completion's words are checked against the program.
TEST_F(CliTest, HelpAllAndEveryKeyOfSettingsSetAreOfferedAndWork) {
  for (const char* args : {"--help-all", "extract --help-all", "info --help-all", "desktop --help-all"}) {
    SCOPED_TRACE(args);
    Result r = Veltrano(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << r.out;
  }
  const std::string all = Veltrano("--help-all").out;
  for (const char* word : {"--max-width", "--json", "--force", "--reset", "desktop"})
    EXPECT_NE(all.find(word), std::string::npos) << word;

  std::ifstream in(VELTRANO_SOURCE_DIR "/cli/completion/veltrano");
  const std::string completion((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The keys: the words of the compgen after "set_at + 1"; a key's values:
  // the words of the compgen on the line of its case label.
  auto compgenWords = [&](std::size_t from) {
    const std::size_t start = completion.find("compgen -W \"", from) + 12;
    return completion.substr(start, completion.find('"', start) - start);
  };
  const std::size_t keysAt = completion.find("cword == set_at + 1");
  ASSERT_NE(keysAt, std::string::npos);
  const std::string setHelp = Veltrano("settings set --help").out;
  std::istringstream words(compgenWords(keysAt));
  int count = 0;
  for (std::string key; words >> key; ++count) {
    SCOPED_TRACE(key);
    EXPECT_NE(setHelp.find(key), std::string::npos) << setHelp;
    std::string value = "640";
    for (const std::string label : {" " + key + ")", "|" + key + ")", " " + key + "|"}) {
      const std::size_t at = completion.find(label, keysAt);
      if (at != std::string::npos) {
        std::istringstream first(compgenWords(at));
        first >> value;
        break;
      }
    }
    EXPECT_EQ(Veltrano("settings set " + key + " " + value).status, 0) << value;
  }
  EXPECT_EQ(count, 7);
  EXPECT_NE(setHelp.find("exif basic|full"), std::string::npos) << setHelp;
}

// `settings set` changes the one value named, within its range; a wrong
// key or value is a usage error that leaves the file as it was, and a file
// that is not ours is never overwritten.
TEST_F(CliTest, SettingsSetChangesOneValueWithinItsRange) {
  const fs::path cfg = root_ / "config" / "Kerbelin" / "VLTR" / "VLTR.cfg";
  Result r = Veltrano("settings set max-width 640");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Max width: 640\n"), std::string::npos) << r.out;
  ASSERT_EQ(Veltrano("settings set sizes smaller").status, 0);
  ASSERT_EQ(Veltrano("settings set suffix off").status, 0);
  Result shown = Veltrano("settings");
  for (const char* line :
       {"Sizes: smaller\n", "Max width: 640\n", "Max height: 800\n", "Suffix: off\n", "Subfolders: on\n"})
    EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;

  const auto before = read_file_bytes(cfg.string());
  struct Case {
    std::string args, err;
  } refused[] = {{"max-width 0", "1 to 65535"},     {"max-height 65536", "1 to 65535"},
                 {"max-width 12px", "1 to 65535"},  {"suffix yes", "off or on"},
                 {"sizes huge", "native or smaller"}, {"colour red", "no setting \"colour\""},
                 {"max-width", "VALUE"}};
  for (const Case& c : refused) {
    SCOPED_TRACE(c.args);
    Result bad = Veltrano("settings set " + c.args);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find(c.err), std::string::npos) << bad.err;
  }
  EXPECT_EQ(read_file_bytes(cfg.string()), before);

  raw_builder::write_file(cfg.string(), {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'});
  Result foreign = Veltrano("settings set max-width 500");
  EXPECT_EQ(foreign.status, 1);
  EXPECT_NE(foreign.err.find("not a Veltrano settings file"), std::string::npos) << foreign.err;
  EXPECT_EQ(read_file_bytes(cfg.string()), (std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'o', 'u', 'r', 's'}));
}

// `settings` says when the file is not ours or damaged, and flags stored
// values that cannot work.
TEST_F(CliTest, SettingsSaysWhatIsWrongWithTheFile) {
  const fs::path cfg = root_ / "config" / "Kerbelin" / "VLTR" / "VLTR.cfg";
  fs::create_directories(cfg.parent_path());
  raw_builder::write_file(cfg.string(), {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'});
  Result foreign = Veltrano("settings");
  EXPECT_EQ(foreign.status, 0);
  EXPECT_NE(foreign.out.find("(not a Veltrano settings file"), std::string::npos) << foreign.out;

  // Section 0 with a box of width 0 and height 70000, then an entry cut short.
  ByteWriter w;
  w.u32(0x766C7472).u32(1).u32(0).u32(3);
  w.u32(1).u32(0).u32(0).u32(2).u32(0).u32(70000).u32(3);
  raw_builder::write_file(cfg.string(), w.bytes());
  Result damaged = Veltrano("settings");
  EXPECT_EQ(damaged.status, 0);
  for (const char* text : {"(damaged", "Max width: 0  (cannot work: must be 1 to 65535)",
                           "Max height: 70000  (cannot work"})
    EXPECT_NE(damaged.out.find(text), std::string::npos) << text << "\n" << damaged.out;
  Result fine = Veltrano("settings --reset");
  EXPECT_EQ(fine.out.find("cannot work"), std::string::npos) << fine.out;
  EXPECT_EQ(fine.out.find("damaged"), std::string::npos) << fine.out;
}

// Parallel workers write the same files with the same bytes as one worker,
// and print the same counts.
TEST_F(CliTest, JobsGiveTheSameResult) {
  JpegSpec (*const pictures[])() = {test_jpeg::three_two, test_jpeg::portrait, test_jpeg::phone,
                                    test_jpeg::compact};
  const char* names[] = {"A.CR2", "A.NEF", "B.RW2", "C.CR2", "D.NEF", "D.x.CR2", "E.RW2", "F.CR2"};
  for (int i = 0; i < 8; ++i) MakeRaw(std::string("sub/") + names[i], pictures[i % 4], static_cast<Layout>(i % 3));
  MakeRaw("top.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  std::map<std::string, std::vector<std::uint8_t>> reference;
  std::string referenceCounts;
  for (const char* jobs : {"1", "4"}) {
    SCOPED_TRACE(jobs);
    for (auto& e : fs::directory_iterator(photos()))
      if (e.is_directory() && e.path().filename() != "sub") fs::remove_all(e.path());
    for (auto& e : fs::directory_iterator(photos() / "sub"))
      if (e.is_directory()) fs::remove_all(e.path());
    Result r = Veltrano(std::string("-r --sizes smaller -j ") + jobs + " '" + photos().string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string counts = r.out.substr(0, r.out.find("Total time"));
    // Native and scaled copies are JPEG files apart: 7 RAW files gave 14.
    EXPECT_EQ(counts, Summary(9, 9, 7) + "Failed: 0\nNot RAW: 0\nJPEG files written: 14, already there: 4\n");
    if (reference.empty()) {
      reference = Tree();
      continue;
    }
    EXPECT_TRUE(Tree() == reference);
  }
}

// Ctrl-C: the files finished so far stay whole, no temporary file is left,
// exit status 130. One asks the job to stop after the current file, and the
// summary says the run was cancelled; a second one ends the process at once.
// Two signals sent close together may merge into one, or the second may come
// after the first has ended the run, so the second case is tried until it is
// seen (each try must still end cleanly).
TEST_F(CliTest, InterruptStopsCleanly) {
  constexpr int kFiles = 40;
  for (int i = 0; i < kFiles; ++i)
    MakeRaw("IMG_" + std::to_string(100 + i) + ".CR2", test_jpeg::three_two, Layout::kStripJpeg);
  const std::string log = (root_ / "out.txt").string();
  const auto run = [&](const std::string& interrupts) {
    fs::remove_all(photos() / "extracted_jpegs");
    fs::remove_all(photos() / "extracted_jpegs_800");
    std::string cmd = "HOME='" + (root_ / "home").string() + "' XDG_CONFIG_HOME='" + (root_ / "config").string() +
                      "' '" + kBinary + "' -j 1 --sizes smaller '" + photos().string() + "' >'" + log +
                      "' 2>&1 & pid=$!; i=0; while [ ! -e '" + at("extracted_jpegs/IMG_100_VLTR.jpg") +
                      "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; " + interrupts + "; wait $pid; echo $?";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) return std::string("popen failed");
    char buf[64] = {0};
    std::string status = std::fgets(buf, sizeof buf, pipe) ? buf : "";
    ::pclose(pipe);
    EXPECT_EQ(std::atoi(status.c_str()), 130);

    const auto& jpeg = test_jpeg::encoded(test_jpeg::three_two);
    int natives = 0;
    for (auto& [rel, bytes] : Tree()) {
      EXPECT_EQ(rel.find(".tmp"), std::string::npos) << rel;
      EXPECT_EQ(rel.find("/."), std::string::npos) << rel;
      if (rel.rfind("extracted_jpegs/", 0) == 0) {
        ++natives;
        EXPECT_TRUE(bytes == jpeg) << rel;
      } else if (rel.rfind("extracted_jpegs_800/", 0) == 0) {
        EXPECT_EQ(FrameSize(bytes), std::make_pair(800, 533)) << rel;
      }
    }
    EXPECT_GT(natives, 0);
    EXPECT_LT(natives, kFiles);
    std::ifstream in(log);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };

  std::string once = run("kill -INT $pid");
  EXPECT_NE(once.find("Cancelled"), std::string::npos) << once;
  bool atOnce = false;
  for (int attempt = 0; attempt < 20 && !atOnce && !HasFailure(); ++attempt) {
    std::string twice = run("kill -INT $pid; sleep 0.002; kill -INT $pid");
    atOnce = twice.find("veltrano: interrupted") != std::string::npos;
    if (atOnce) EXPECT_EQ(twice.find("Cancelled"), std::string::npos) << twice;
  }
  EXPECT_TRUE(atOnce) << "a second Ctrl-C never ended the run at once";
}

// Whatever the host's zone, `info` prints the time the camera recorded (with
// the offset only where the file states one) and `preview` writes it into
// the inserted Exif block unchanged.
TEST_F(CliTest, CaptureTimeDoesNotMoveWithHostZone) {
  struct Row {
    std::string file, shown, written;  // the RAW file, `info`'s time, the inserted DateTime ("" = not checked)
  };
  raw_builder::RawSpec spec;  // DateTimeOriginal 2021:07:04 18:30:05, OffsetTimeOriginal +05:30
  spec.jpeg = test_jpeg::encoded(test_jpeg::phone);  // no Exif of its own: the block is inserted
  spec.exif = true;
  const std::string built = at("built.cr2");
  ASSERT_TRUE(raw_builder::write_file(built, raw_builder::build(spec)));
  std::vector<Row> rows = {{built, "2021-07-04T18:30:05+05:30", "2021:07:04 18:30:05"}};
  if (!samples_dir().empty()) {
    rows.push_back({samples_dir() + "/real-raw/NikonD7100.nef", "2013-09-03T09:45:16", "2013:09:03 09:45:16"});
    rows.push_back({samples_dir() + "/real-raw/CanonEOSR6.cr3", "2025-09-06T20:24:47-08:00", ""});
  }
  const bool exiftool = std::system("exiftool -ver >/dev/null 2>&1") == 0;
  int n = 0;
  for (const char* zone : {"UTC", "America/New_York", "Asia/Kolkata", "Pacific/Chatham"}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(zone) + " " + row.file);
      const std::string env = std::string("TZ=") + zone;
      Result info = Veltrano("info --json '" + row.file + "'", "", env);
      ASSERT_EQ(info.status, 0) << info.err;
      EXPECT_EQ(nlohmann::json::parse(info.out)["capture_time"], row.shown);
      if (!exiftool || row.written.empty()) continue;
      const std::string out = at("out-" + std::to_string(++n) + ".jpg");
      Result preview = Veltrano("preview '" + row.file + "' -o '" + out + "'", "", env);
      ASSERT_EQ(preview.status, 0) << preview.err;
      FILE* pipe = ::popen(("exiftool -s3 -IFD0:ModifyDate '" + out + "'").c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      char line[64] = {};
      std::fgets(line, sizeof line, pipe);
      ::pclose(pipe);
      EXPECT_EQ(std::string(line), row.written + "\n");
    }
  }
  if (!exiftool) GTEST_SKIP() << "exiftool is not installed: the written DateTime was not checked";
}

// --version prints the version of the project line (through the generated
// header) and does not start an extraction; it needs no samples.
TEST(CliVersion, PrintsTheProjectVersion) {
  FILE* pipe = ::popen(("'" + kBinary + "' --version 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[256];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int st = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << out;
  EXPECT_EQ(out, "veltrano " VELTRANO_VERSION_TEXT "\n");
}

// Every output, native and scaled, from `extract` and from `preview`, gets
// the RAW file's modification time to the nanosecond; --no-keep-times
// leaves the time of writing.
TEST_F(CliTest, OutputsKeepTheRawFileTimes) {
  MakeRaw("IMG_1.CR2", test_jpeg::landscape, Layout::kStripJpeg);
  const struct timespec raw_time = {1430827200, 123456789};  // 2015-05-05 12:00:00.123456789 UTC
  const struct timespec times[2] = {raw_time, raw_time};
  ASSERT_EQ(::utimensat(AT_FDCWD, at("IMG_1.CR2").c_str(), times, 0), 0);
  auto mtime = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return std::pair<long long, long>(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  };
  const std::pair<long long, long> kept(raw_time.tv_sec, raw_time.tv_nsec);
  struct Case {
    std::string args;
    std::vector<std::string> outputs;
    bool keep;
  } cases[] = {
      {"--sizes smaller '" + photos().string() + "'",
       {"extracted_jpegs/IMG_1_VLTR.jpg", "extracted_jpegs_800/IMG_1_VLTR_800.jpg"}, true},
      {"--sizes smaller --no-keep-times '" + photos().string() + "'",
       {"extracted_jpegs/IMG_1_VLTR.jpg", "extracted_jpegs_800/IMG_1_VLTR_800.jpg"}, false},
      {"preview '" + at("IMG_1.CR2") + "' -o '" + at("one.jpg") + "'", {"one.jpg"}, true},
      {"preview --force '" + at("IMG_1.CR2") + "' -o '" + at("one.jpg") + "'", {"one.jpg"}, true},
      {"preview --force --no-keep-times '" + at("IMG_1.CR2") + "' -o '" + at("one.jpg") + "'", {"one.jpg"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    fs::remove_all(photos() / "extracted_jpegs");
    fs::remove_all(photos() / "extracted_jpegs_800");
    Result r = Veltrano(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& rel : c.outputs) {
      if (c.keep)
        EXPECT_EQ(mtime(at(rel)), kept) << rel;
      else
        EXPECT_GT(mtime(at(rel)).first, raw_time.tv_sec + 86400) << rel;
    }
  }
  // Nothing but the outputs: no temporary left behind.
  for (auto& e : fs::recursive_directory_iterator(photos()))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

// A preview that runs past the end of its file is refused by extraction, so
// `info` says there is none and the job passes the file by: exit status 0.
// Both once said yes, and the job ended with a failure and status 1.
TEST_F(CliTest, PreviewRunningPastTheEndIsNoPreviewAndNoFailure) {
  raw_builder::RawSpec spec;
  spec.jpeg = raw_builder::stand_in_jpeg(4000);
  ASSERT_TRUE(raw_builder::write_file(at("CUT.CR2"), raw_builder::build_cut_short(spec, 100)));

  Result text = Veltrano("info '" + at("CUT.CR2") + "'");
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("length 4000,"), std::string::npos) << text.out;  // located
  EXPECT_NE(text.out.find("jpeg preview:      no\n"), std::string::npos) << text.out;
  Result json = Veltrano("info --json '" + at("CUT.CR2") + "'");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out)["jpeg_preview"], false);

  Result run = Veltrano("--json '" + photos().string() + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["files_scanned"], 0);
  EXPECT_TRUE(j["failures"].empty());
}

// --output with one folder given: its tree is mirrored under the output
// folder with the layout settings applied inside; the dry run names exactly
// what the real run then writes, and the RAW side (read-only) is never
// changed.
TEST_F(CliTest, OutputFolderMirrorsTheFolderGivenAndOnlyReadsIt) {
  const auto img1 = MakeRaw("DCIM/100CANON/IMG_1.CR2", test_jpeg::landscape, Layout::kStripJpeg);
  const auto img0 = MakeRaw("IMG_0.NEF", test_jpeg::portrait, Layout::kSubIfdJpeg);
  const auto writeBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (auto& e : fs::recursive_directory_iterator(photos()))
    if (e.is_directory()) fs::permissions(e.path(), writeBits, fs::perm_options::remove);
  fs::permissions(photos(), writeBits, fs::perm_options::remove);
  const auto before = Tree(photos(), true);
  const fs::path out = root_ / "out";
  struct Case {
    std::string options;
    std::map<std::string, const std::vector<std::uint8_t>*> files;  // under out; null: a scaled copy
  } cases[] = {
      {"", {{"DCIM/100CANON/extracted_jpegs/IMG_1_VLTR.jpg", &img1}, {"extracted_jpegs/IMG_0_VLTR.jpg", &img0}}},
      {"--beside --no-suffix --max-width 400",
       {{"DCIM/100CANON/IMG_1.jpg", &img1}, {"DCIM/100CANON/IMG_1_400.jpg", nullptr},
        {"IMG_0.jpg", &img0}, {"IMG_0_400.jpg", nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    fs::remove_all(out);
    const std::string args = "-r --json " + c.options + " -o '" + out.string() + "' '" + photos().string() + "'";
    Result dry = Veltrano("--dry-run " + args);
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_FALSE(fs::exists(out));
    Result real = Veltrano(args);
    ASSERT_EQ(real.status, 0) << real.err;
    std::set<std::string> planned, written, expected;
    const auto dryJson = nlohmann::json::parse(dry.out), realJson = nlohmann::json::parse(real.out);
    for (auto& o : dryJson["outputs"]) planned.insert(o["output"].get<std::string>());
    for (auto& o : realJson["outputs"]) written.insert(o["output"].get<std::string>());
    for (auto& [rel, bytes] : c.files) {
      expected.insert((out / rel).string());
      if (bytes) {
        EXPECT_TRUE(read_file_bytes((out / rel).string()) == *bytes) << rel;
      }
    }
    EXPECT_EQ(planned, expected);
    EXPECT_EQ(written, expected);
    std::set<std::string> onDisk;
    for (auto& e : fs::recursive_directory_iterator(out))
      if (e.is_regular_file()) onDisk.insert(e.path().string());
    EXPECT_EQ(onDisk, expected);
    EXPECT_TRUE(Tree(photos(), true) == before);
  }
}

// --output with several paths: each folder under its own name, a name given
// again as NAME_2, NAME_3 (case ignored; the same folder twice keeps one
// name), files named directly in the output folder itself; a folder that
// cannot be made there is reported with its real path.
TEST_F(CliTest, OutputFolderTellsFoldersOfOneNameApart) {
  const auto a = MakeRaw("a/DCIM/IMG_1.CR2", test_jpeg::landscape, Layout::kStripJpeg);
  const auto b = MakeRaw("b/DCIM/IMG_1.CR2", test_jpeg::portrait, Layout::kStripJpeg);
  const auto c = MakeRaw("c/DCIM_2/IMG_2.CR2", test_jpeg::three_two, Layout::kStripJpeg);
  const auto e = MakeRaw("e/IMG_9.CR2", test_jpeg::compact, Layout::kStripJpeg);
  MakeRaw("d/dcim/IMG_3.CR2", test_jpeg::compact, Layout::kStripJpeg);
  const fs::path out = root_ / "out";
  fs::create_directories(out);
  raw_builder::write_file((out / "dcim_3").string(), {'x'});  // where d/dcim goes
  Result r = Veltrano("--json -o '" + out.string() + "' '" + at("a/DCIM") + "' '" + at("b/DCIM") + "' '" +
                      at("a/DCIM") + "/' '" + at("c/DCIM_2") + "' '" + at("d/dcim") + "' '" + at("e/IMG_9.CR2") +
                      "'");
  EXPECT_EQ(r.status, 1) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["new"], 4);
  EXPECT_EQ(j["existing"], 0);  // a/DCIM given again is walked once
  ASSERT_EQ(j["failures"].size(), 1u);
  EXPECT_EQ(j["failures"][0]["path"], at("d/dcim/IMG_3.CR2"));
  EXPECT_EQ(j["failures"][0]["output"], (out / "dcim_3").string());
  const std::map<std::string, std::vector<std::uint8_t>> expected = {
      {"DCIM/", {}}, {"DCIM/extracted_jpegs/", {}}, {"DCIM/extracted_jpegs/IMG_1_VLTR.jpg", a},
      {"DCIM_2/", {}}, {"DCIM_2/extracted_jpegs/", {}}, {"DCIM_2/extracted_jpegs/IMG_1_VLTR.jpg", b},
      {"DCIM_2_2/", {}}, {"DCIM_2_2/extracted_jpegs/", {}}, {"DCIM_2_2/extracted_jpegs/IMG_2_VLTR.jpg", c},
      {"dcim_3", {'x'}}, {"extracted_jpegs/", {}}, {"extracted_jpegs/IMG_9_VLTR.jpg", e}};
  EXPECT_TRUE(Tree(out, true) == expected);
}

// Two RAW files that map to one output: the first in walk order writes it,
// the later one finds it existing; a later run in the other order
// overwrites nothing.
TEST_F(CliTest, OutputFolderCollisionsKeepTheFirstAndOverwriteNothing) {
  const auto a = MakeRaw("a/IMG_1.CR2", test_jpeg::landscape, Layout::kStripJpeg);
  MakeRaw("b/IMG_1.CR2", test_jpeg::portrait, Layout::kStripJpeg);
  const fs::path out = root_ / "out";
  std::map<std::string, std::vector<std::uint8_t>> first;
  for (const std::string order : {"a b", "b a"}) {
    SCOPED_TRACE(order);
    Result r = Veltrano("--json -j 2 --sizes smaller -o '" + out.string() + "' '" + at(order.substr(0, 1)) +
                        "/IMG_1.CR2' '" + at(order.substr(2)) + "/IMG_1.CR2'");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["new"], first.empty() ? 1 : 0);
    EXPECT_EQ(j["existing"], first.empty() ? 1 : 2);
    EXPECT_EQ(read_file_bytes((out / "extracted_jpegs/IMG_1_VLTR.jpg").string()), a);
    if (first.empty()) {
      first = Tree(out);
    } else {
      EXPECT_TRUE(Tree(out) == first);
    }
  }
  EXPECT_TRUE(first.count("extracted_jpegs_800/IMG_1_VLTR_800.jpg"));
}

// One default Exif mode: what `preview` and `extract` do without --exif (and
// without a stored choice), what `settings` shows for a file without key 5,
// and what --help, the man page and the README call the default are all the
// mode the probe names as its default.
TEST_F(CliTest, DefaultExifModeIsOneModeEverywhere) {
  const ExifMode other = kDefaultExifMode == ExifMode::full ? ExifMode::basic : ExifMode::full;
  const std::string name = exif_mode_name(kDefaultExifMode);
  MakeRaw("IMG_1.CR2", test_jpeg::phone, Layout::kStripJpeg);  // a preview without Exif: the modes differ
  const std::string raw = "'" + at("IMG_1.CR2") + "'";
  const Result plain = Veltrano("preview " + raw + " -o -");
  const Result named = Veltrano("preview " + raw + " -o - --exif " + name);
  const Result unnamed = Veltrano("preview " + raw + " -o - --exif " + exif_mode_name(other));
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_NE(named.out, unnamed.out) << "the file does not tell the modes apart";
  EXPECT_EQ(plain.out, named.out);

  ASSERT_EQ(Veltrano("-q " + raw).status, 0);
  const auto extracted = read_file_bytes(at("extracted_jpegs/IMG_1_VLTR.jpg"));
  EXPECT_EQ(std::string(extracted.begin(), extracted.end()), named.out);
  EXPECT_NE(Veltrano("settings").out.find("Exif: " + name + "\n"), std::string::npos);

  for (const char* command : {"extract", "preview"}) {
    const Result help = Veltrano(std::string(command) + " --help");
    EXPECT_NE(help.out.find(name + " (the default)"), std::string::npos) << command << " --help:\n" << help.out;
  }
  auto text = [](const char* rel) {
    const auto bytes = read_file_bytes(std::string(VELTRANO_SOURCE_DIR) + "/" + rel);
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_NE(text("cli/veltrano.1").find(".B " + name + "\n(the default)"), std::string::npos);
  EXPECT_NE(text("cli/veltrano.1").find("A settings file without an Exif entry means\n.BR " + name + " ."),
            std::string::npos);
  EXPECT_NE(text("README.md").find("by default (`--exif " + name + "`)"), std::string::npos);
  EXPECT_NE(text("README.md").find("a settings file without key 5 means " + name), std::string::npos);
}

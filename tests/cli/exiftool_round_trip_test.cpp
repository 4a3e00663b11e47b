// Round trips through exiftool: a default run of the command (the full Exif)
// over the test builders' RAW-like files and the real camera files of the
// shared samples, under two time zones. For every output, Make, Model,
// DateTimeOriginal, ExposureTime, FNumber and Orientation read back equal to
// what exiftool reads in the RAW itself (never our own reading of it), and
// exiftool's validation of the output reports no error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/folder_test.h"
#include "support/probe_fixture.h"
#include "support/raw_builder.h"
#include "tests/probe/cr3_builder.h"
#include "tests/probe/value_builders.h"

namespace fs = std::filesystem;

namespace {

using core_test::Bytes;
using core_test::Entry;
using core_test::Tiff;

const std::string kBinary = VELTRANO_BINARY_DIR "/cli/veltrano";

bool have_exiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

std::string read_pipe(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buf[4096];
  std::size_t n;
  while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  if (pipe) ::pclose(pipe);
  return out;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// exiftool's JSON for every file, by path.
std::map<std::string, nlohmann::json> exiftool(const std::string& options, const std::vector<std::string>& files) {
  std::string command = "exiftool -j " + options;
  for (const std::string& f : files) command += " " + quoted(f);
  auto j = nlohmann::json::parse(read_pipe(command + " 2>/dev/null"), nullptr, false);
  std::map<std::string, nlohmann::json> by_file;
  if (j.is_array())
    for (auto& entry : j) by_file[entry.value("SourceFile", "")] = entry;
  return by_file;
}

const char* const kTags[] = {"Make", "Model", "DateTimeOriginal", "ExposureTime", "FNumber", "Orientation"};

// The builders' files: the layouts whose values the issue names, with the
// camera metadata directories where the layout has them.
std::map<std::string, Bytes> builder_files() {
  using raw_builder::Layout;
  auto spec = [](Layout layout, const std::string& make, const std::string& model) {
    raw_builder::RawSpec s;
    s.layout = layout;
    s.jpeg = value_builders::plain_preview();
    s.make = make;
    s.model = model;
    s.exif = true;
    return raw_builder::build(s);
  };
  auto cr3 = [](bool little) {
    cr3_test::Cr3Parts parts;
    parts.little_cmt = little;
    parts.full_size = value_builders::plain_preview();
    parts.orientation = 8;
    return cr3_test::build_cr3(parts);
  };
  return {
      {"strip.CR2", spec(Layout::kStripJpeg, "OLYMPUS IMAGING CORP.  ", "E-M1")},
      {"subifd.NEF", spec(Layout::kSubIfdJpeg, "NIKON CORPORATION", "NIKON D7100")},
      {"tag46.RW2", spec(Layout::kTag46Jpeg, "Panasonic", "DMC-GH5")},
      {"little.CR3", cr3(true)},
      {"big.CR3", cr3(false)},
      {"shot.CRW", value_builders::crw()},
      {"rotated.MRW", value_builders::mrw(6)},
      {"union.RW2", value_builders::rw2()},
      {"camera.RAF", value_builders::raf(value_builders::camera_exif_preview())},
      {"apex.TIF", value_builders::tiff_raw([](Tiff& t, std::vector<Entry>&, std::vector<Entry>& exif) {
         exif = {t.ascii(36867, "2021:07:04 23:30:05"), t.ascii(36868, "2021:07:05 01:10:00"),
                 t.rational(37377, 53, 8, 10), t.rational(37378, 9, 1)};
       })},
      {"jfif.TIF", value_builders::tiff_raw(
                       [](Tiff& t, std::vector<Entry>& ifd0, std::vector<Entry>& exif) {
                         ifd0.push_back(t.short_(274, 3));
                         exif = {t.rational(33434, 1, 125), t.rational(33437, 71, 10),
                                 t.ascii(36867, "2022:03:04 05:06:07")};
                       },
                       value_builders::jfif_then_exif_preview(
                           [](Tiff& t) { return std::vector<Entry>{t.ascii(271, "PreviewMaker")}; },
                           [](Tiff& t) { return std::vector<Entry>{t.rational(33434, 1, 60)}; }))},
  };
}

class ExiftoolRoundTrip : public FolderTest {};

}  // namespace

TEST_F(ExiftoolRoundTrip, DefaultRunCarriesTheRawsValues) {
  if (!have_exiftool()) GTEST_SKIP() << "exiftool is not installed (Debian: libimage-exiftool-perl); skipped";
  const fs::path built = root_ / "built";
  fs::create_directories(built);
  std::vector<std::string> inputs = {built.string()};
  for (const auto& [name, bytes] : builder_files()) ASSERT_TRUE(raw_builder::write_file((built / name).string(), bytes));
  const std::string samples = samples_dir();
  if (samples.empty()) {
    std::printf("shared samples folder is absent: only the built files are checked\n");
  } else {
    for (const char* f : {"real-raw/NikonD7100.nef", "real-raw/CanonEOSR6.cr3", "real-raw/CanonEOSD30.crw",
                          "raw/Panasonic.rw2", "raw/FujiFilm.raf", "raw/SigmaDP2.x3f"})
      inputs.push_back(samples + "/" + f);
  }

  std::vector<std::vector<std::uint8_t>> first_zone_outputs;
  for (const char* zone : {"Asia/Tokyo", "America/Los_Angeles"}) {
    SCOPED_TRACE(zone);
    const fs::path out = root_ / (std::string("out-") + (zone[0] == 'A' && zone[1] == 's' ? "tokyo" : "la"));
    std::string command = "TZ=" + std::string(zone) + " HOME=" + quoted((root_ / "home").string()) +
                          " XDG_CONFIG_HOME=" + quoted((root_ / "config").string()) + " " + quoted(kBinary) +
                          " --json -o " + quoted(out.string());
    for (const std::string& in : inputs) command += " " + quoted(in);
    const CommandResult run = RunCommand(command, root_ / "stderr.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto report = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << run.out;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& o : report["outputs"]) pairs.emplace_back(o["raw"], o["output"]);
    EXPECT_EQ(pairs.size(), inputs.size() - 1 + builder_files().size());

    std::vector<std::string> files;
    for (const auto& [raw, output] : pairs) {
      files.push_back(raw);
      files.push_back(output);
    }
    std::string tags;
    for (const char* tag : kTags) tags += std::string(" -") + tag;
    const auto values = exiftool("-n" + tags, files);
    std::vector<std::string> outputs;
    for (const auto& p : pairs) outputs.push_back(p.second);
    const auto validation = exiftool("-validate -warning -error -a", outputs);
    std::vector<std::vector<std::uint8_t>> zone_outputs;
    for (const auto& [raw, output] : pairs) {
      SCOPED_TRACE(raw);
      zone_outputs.push_back(read_file_bytes(output));
      ASSERT_TRUE(values.count(raw) && values.count(output));
      const nlohmann::json& in = values.at(raw);
      const nlohmann::json& got = values.at(output);
      for (const char* tag : kTags) {
        SCOPED_TRACE(tag);
        if (!in.contains(tag)) {
          // What the RAW does not record is not made up; without an
          // orientation the output says "normal".
          if (std::string(tag) == "Orientation")
            EXPECT_EQ(got.value(tag, 1), 1);
          else
            EXPECT_FALSE(got.contains(tag)) << got[tag];
        } else if (in[tag].is_number()) {
          ASSERT_TRUE(got.contains(tag) && got[tag].is_number()) << got.dump();
          const double want = in[tag], have = got[tag];
          EXPECT_NEAR(have, want, std::fabs(want) * 1e-5);
        } else {
          EXPECT_EQ(got.value(tag, nlohmann::json()), in[tag]);
        }
      }
      const nlohmann::json& check = validation.count(output) ? validation.at(output) : nlohmann::json::object();
      EXPECT_EQ(check.value("Validate", std::string("?")).find("Error"), std::string::npos) << check.dump();
      EXPECT_FALSE(check.contains("Error")) << check.dump();
    }
    // The capture times are the camera's wall clock: the same bytes in
    // every zone.
    if (first_zone_outputs.empty())
      first_zone_outputs = zone_outputs;
    else
      EXPECT_TRUE(zone_outputs == first_zone_outputs);
  }
}

// `info` shows the names as the file records them: recorded_make and
// recorded_model of --json, and the make: and model: lines, read back equal
// to exiftool's Make and Model of the RAW itself.
TEST_F(ExiftoolRoundTrip, InfoShowsTheRecordedNames) {
  if (!have_exiftool()) GTEST_SKIP() << "exiftool is not installed (Debian: libimage-exiftool-perl); skipped";
  std::vector<std::string> inputs;
  for (const auto& [name, bytes] : builder_files()) {
    inputs.push_back((root_ / name).string());
    ASSERT_TRUE(raw_builder::write_file(inputs.back(), bytes));
  }
  const std::string samples = samples_dir();
  if (samples.empty()) {
    std::printf("shared samples folder is absent: only the built files are checked\n");
  } else {
    for (const auto& e : fs::directory_iterator(samples + "/real-raw")) inputs.push_back(e.path().string());
    for (const char* f : {"raw/Panasonic.rw2", "raw/FujiFilm.raf", "raw/SigmaDP2.x3f"})
      inputs.push_back(samples + "/" + f);
  }
  const auto names = exiftool("-Make -Model", inputs);
  // exiftool drops the blanks that pad a text field.
  auto trimmed = [](std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  int compared = 0;
  for (const std::string& file : inputs) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(names.count(file));
    const nlohmann::json& want = names.at(file);
    const auto info = nlohmann::json::parse(read_pipe(quoted(kBinary) + " info --json " + quoted(file)), nullptr, false);
    ASSERT_TRUE(info.is_object());
    const std::string text = read_pipe(quoted(kBinary) + " info " + quoted(file));
    for (const auto& [tag, key, label] : {std::tuple{"Make", "recorded_make", "make:"},
                                          std::tuple{"Model", "recorded_model", "model:"}}) {
      SCOPED_TRACE(tag);
      if (!want.contains(tag)) continue;
      const std::string recorded = trimmed(info.value(key, std::string()));
      EXPECT_EQ(recorded, want[tag].get<std::string>());
      EXPECT_NE(text.find(std::string(label) + std::string(19 - std::strlen(label), ' ') + recorded),
                std::string::npos)
          << text;
      ++compared;
    }
  }
  EXPECT_GE(compared, 2 * 8);
}

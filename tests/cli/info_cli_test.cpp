// `veltrano info` lists every embedded image the probe found and marks the
// chosen one, as text and as JSON.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "support/probe_fixture.h"
#include "tests/probe/core_builders.h"
#include "tests/probe/cr3_builder.h"

namespace {

const std::string kBinary = VELTRANO_BINARY_DIR "/cli/veltrano";

std::string run(const std::string& args) {
  std::string out;
  if (FILE* pipe = ::popen(("'" + kBinary + "' " + args).c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    ::pclose(pipe);
  }
  return out;
}

TEST(InfoCli, ListsEveryEmbeddedImageAndMarksTheChosenOne) {
  // A CR3 whose full-size JPEG is cut off by the end of the file: PRVW is
  // chosen, the first track is listed as running past the end.
  cr3_test::Cr3Parts parts;
  parts.full_size = core_test::make_jpeg(5472, 3648, 3, core_test::JpegApp::kNone, {}, 3000);
  parts.preview = core_test::make_jpeg(1620, 1080, 3, core_test::JpegApp::kNone, {}, 1500);
  parts.thumbnail = core_test::make_jpeg(160, 120, 3, core_test::JpegApp::kNone, {}, 200);
  cr3_test::Bytes bytes = cr3_test::build_cr3(parts);
  bytes.resize(bytes.size() - 1000);
  core_test::TempFile file("info_cut.cr3", bytes);

  const nlohmann::json j = nlohmann::json::parse(run("info --json '" + file.str() + "'"));
  const auto& images = j.at("images");
  ASSERT_EQ(images.size(), 3u);
  struct Want {
    const char* where;
    unsigned width, height;
    std::size_t length;
    bool whole, jpeg, chosen;
  };
  const Want want[] = {{"CR3 first track", 5472, 3648, parts.full_size.size(), false, true, false},
                       {"CR3 PRVW", 1620, 1080, parts.preview.size(), true, true, true},
                       {"CR3 THMB", 160, 120, parts.thumbnail.size(), true, true, false}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(want[i].where);
    const auto& image = images[i];
    EXPECT_EQ(image.at("where"), want[i].where);
    EXPECT_EQ(image.at("width"), want[i].width);
    EXPECT_EQ(image.at("height"), want[i].height);
    EXPECT_EQ(image.at("length"), want[i].length);
    EXPECT_EQ(image.at("whole"), want[i].whole);
    EXPECT_EQ(image.at("jpeg"), want[i].jpeg);
    EXPECT_EQ(image.at("chosen"), want[i].chosen);
    // The offset holds the image's bytes.
    const std::size_t at = image.at("offset");
    const cr3_test::Bytes& jpeg = i == 0 ? parts.full_size : i == 1 ? parts.preview : parts.thumbnail;
    ASSERT_LT(at + 16, bytes.size());
    EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.begin() + 16, bytes.begin() + static_cast<std::ptrdiff_t>(at)));
  }
  EXPECT_EQ(j.at("preview").at("offset"), images[1].at("offset"));

  const std::string text = run("info '" + file.str() + "'");
  EXPECT_NE(text.find("* CR3 PRVW"), std::string::npos) << text;
  EXPECT_NE(text.find("5472x3648, JPEG, cut off by the end of the file"), std::string::npos) << text;
}

}  // namespace

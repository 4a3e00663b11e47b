// The command on awkward names and interrupted runs, with the sample RAW
// file that ships with the project.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/folder_test.h"

namespace fs = std::filesystem;

namespace {

const std::string kBinary = VELTRANO_BINARY_DIR "/cli/veltrano";
const fs::path kSampleRaw = fs::path(VELTRANO_SOURCE_DIR) / "samples" / "sample-raw.tif";

using Result = CommandResult;

class CliFaultsTest : public FolderTest {
 protected:
  void SetUp() override {
    FolderTest::SetUp();
    fs::create_directories(root_ / "config");
  }

  // Starts the program with its settings inside the test folder; stdout and
  // stderr go to the returned pipes' read ends.
  pid_t Start(const std::vector<std::string>& args, int& out, int& err) {
    int o[2], e[2];
    if (::pipe(o) != 0 || ::pipe(e) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(o[1], 1);
      ::dup2(e[1], 2);
      ::close(o[0]), ::close(o[1]), ::close(e[0]), ::close(e[1]);
      ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(kBinary.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(kBinary.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(o[1]), ::close(e[1]);
    out = o[0], err = e[0];
    return pid;
  }

  Result Veltrano(const std::vector<std::string>& args) {
    int out = -1, err = -1;
    Result r;
    pid_t pid = Start(args, out, err);
    if (pid < 0) return r;
    std::thread drainErr([&] { r.err = Drain(err); });
    r.out = Drain(out);
    drainErr.join();
    int st = 0;
    ::waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  }

  static std::string Drain(int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
  }
};

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) std::snprintf(two, sizeof two, "%02x", c), out += two;
  return out;
}

// `--json` died with "invalid UTF-8 byte" on a name holding 0xFF, and a
// newline in a name started a new line of the human-readable report.
TEST_F(CliFaultsTest, AnyNameGivesValidJsonAndOneEscapedLine) {
  const std::string name = "IMG_\xFF\nveltrano: forged.TIF";
  const fs::path card = root_ / "card";
  fs::create_directories(card);
  fs::copy_file(kSampleRaw, card / name);
  const fs::path output = card / "extracted_jpegs" / "IMG_\xFF\nveltrano: forged_VLTR.jpg";

  Result dry = Veltrano({"--dry-run", card.string()});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find("would write " + (card / "extracted_jpegs").string() +
                         "/IMG_\\xff\\x0aveltrano: forged_VLTR.jpg\n"),
            std::string::npos)
      << dry.out;
  EXPECT_EQ(dry.out.find("\nveltrano: forged"), std::string::npos);

  Result run = Veltrano({"--json", card.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  nlohmann::json j = nlohmann::json::parse(run.out);  // throws on invalid UTF-8
  ASSERT_EQ(j["outputs"].size(), 1u);
  EXPECT_EQ(j["outputs"][0]["raw"], (card / "IMG_\xEF\xBF\xBD\nveltrano: forged.TIF").string());
  EXPECT_EQ(j["outputs"][0]["raw_bytes"], Hex((card / name).string()));
  EXPECT_EQ(j["outputs"][0]["output_bytes"], Hex(output.string()));
  EXPECT_TRUE(fs::is_regular_file(output));

  // A missing file with such a name fails: reported on one escaped line and
  // in valid JSON.
  const std::string missing = (root_ / "gone\xFE\n.CR2").string();
  Result failed = Veltrano({"--json", missing});
  EXPECT_EQ(failed.status, 1);
  j = nlohmann::json::parse(failed.out);
  ASSERT_EQ(j["failures"].size(), 1u);
  EXPECT_EQ(j["failures"][0]["path_bytes"], Hex(missing));
  EXPECT_EQ(j["failures"][0]["detail"], "No such file or directory");
  EXPECT_EQ(failed.err, "veltrano: " + root_.string() + "/gone\\xfe\\x0a.CR2: could not be read: No such file or directory\n");

  Result info = Veltrano({"info", "--json", (card / name).string()});
  EXPECT_EQ(info.status, 0);
  j = nlohmann::json::parse(info.out);
  EXPECT_EQ(j["file_bytes"], Hex((card / name).string()));
  EXPECT_TRUE(j["jpeg_preview"].get<bool>());
}

}  // namespace

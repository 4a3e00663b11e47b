// The built program on the desktop: `veltrano desktop install|remove` under
// a temporary HOME (each file manager's file, a uca.xml holding another
// action, files that are not ours), and a run without a terminal reporting
// through a stand-in notify-send and the failure log.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/folder_test.h"

namespace fs = std::filesystem;

namespace {

const std::string kBinary = VELTRANO_BINARY_DIR "/cli/veltrano";
const std::string kDemoRaw = VELTRANO_SOURCE_DIR "/samples/sample-raw.tif";
const std::string kLabel = "Extract JPEG previews (Veltrano)";

// Another user action, as Thunar writes uca.xml (tabs, no final newline
// trouble): it must come through install and remove byte for byte.
const std::string kForeignUca =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<actions>\n"
    "<action>\n"
    "\t<icon>utilities-terminal</icon>\n"
    "\t<name>Open Terminal Here</name>\n"
    "\t<unique-id>1700000000000000-1</unique-id>\n"
    "\t<command>exo-open --working-directory %f --launch TerminalEmulator</command>\n"
    "\t<description>Example for a custom action &amp; more</description>\n"
    "\t<patterns>*</patterns>\n"
    "\t<startup-notify/>\n"
    "\t<directories/>\n"
    "</action>\n"
    "</actions>\n";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& text, fs::perms mode = fs::perms::owner_all) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
  fs::permissions(p, mode);
}

bool HasTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

using RunResult = CommandResult;

class DesktopTest : public FolderTest {
 protected:
  void SetUp() override {
    FolderTest::SetUp();
    fs::create_directories(root_ / "home");
    fs::create_directories(bin());
  }

  fs::path bin() const { return root_ / "bin"; }
  fs::path data() const { return root_ / "data"; }
  fs::path config() const { return root_ / "config"; }
  fs::path state() const { return root_ / "state"; }
  // The system-wide data folders seen by the program (the package's entries).
  fs::path systemData() const { return root_ / "usr-share"; }

  void StandIn(const std::string& name, const std::string& script) {
    WriteFile(bin() / name, "#!/bin/sh\n" + script);
  }

  // Runs `env` then the program with `args`, PATH = our stand-ins alone (a
  // file manager installed on this machine must not count as found),
  // standard error to a file (so never a terminal).
  RunResult Veltrano(const std::string& env, const std::string& args) {
    return RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_STATE_HOME XDG_DATA_DIRS='" + systemData().string() +
                          "' TZ=UTC HOME='" + (root_ / "home").string() +
                          "' XDG_DATA_HOME='" + data().string() + "' XDG_CONFIG_HOME='" + config().string() +
                          "' PATH='" + bin().string() + "' " + env + " '" + kBinary + "' " + args,
                      root_ / "stderr.txt");
  }
};

bool IsExecutable(const fs::path& p) {
  return (fs::status(p).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// desktop-file-validate's complaints about a Dolphin service menu, less the
// ones about KDE's own extensions of the format (Type=Service with MimeType
// and Actions, the all/all type); "" when none (or no validator).
std::string ServiceMenuProblems(const fs::path& p) {
  if (!HasTool("desktop-file-validate")) return "";
  std::string cmd = "desktop-file-validate '" + p.string() + "' 2>&1";
  std::string out;
  FILE* pipe = ::popen(cmd.c_str(), "r");
  char buf[1024];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  std::istringstream lines(out);
  std::string line, rest;
  while (std::getline(lines, line))
    if (line.find("\"all/all\"") == std::string::npos && line.find("but the type is \"Service\"") == std::string::npos)
      rest += line + "\n";
  return rest;
}

TEST_F(DesktopTest, InstallAndRemoveTheFourActionsKeepingTheUsersOwnFiles) {
  for (const char* fm : {"nautilus", "dolphin", "nemo", "thunar"}) StandIn(fm, "exit 0\n");
  // The user keeps uca.xml in a dotfiles folder, linked into place.
  const fs::path uca = config() / "Thunar/uca.xml", dotfile = root_ / "dotfiles/uca.xml";
  WriteFile(dotfile, kForeignUca, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directories(uca.parent_path());
  fs::create_symlink(dotfile, uca);
  // A user's own Nemo action with our file name is not ours to replace.
  const fs::path nemo = data() / "nemo/actions/veltrano-extract.nemo_action";
  const std::string foreignNemo = "[Nemo Action]\nName=Mine\nExec=true %F\nSelection=any\nExtensions=any;\n";
  WriteFile(nemo, foreignNemo, fs::perms::owner_read | fs::perms::owner_write);

  RunResult install = Veltrano("", "desktop install");
  EXPECT_EQ(install.status, 1) << install.err;  // the Nemo file was left alone
  EXPECT_NE(install.err.find("Nemo"), std::string::npos) << install.err;
  EXPECT_EQ(ReadFile(nemo), foreignNemo);

  const std::string exec = "Exec=" + kBinary + " extract -- %F\n";
  struct Expected {
    fs::path path;
    bool executable;
    std::vector<std::string> lines;
  };
  const Expected expected[] = {
      {data() / "nautilus/scripts" / kLabel, true, {"exec " + kBinary + " extract -- \"$@\"\n"}},
      {data() / "kio/servicemenus/veltrano-extract.desktop", true,
       {"MimeType=inode/directory;image/x-dcraw;", "image/x-nikon-nef;", "Name=" + kLabel + "\n", exec}},
      // Thunar matches names: RAW files by theirs, folders in an action of their own.
      {uca, false, {"<command>" + kBinary + " extract -- %F</command>", "<name>" + kLabel + "</name>",
                    "<patterns>*.3fr;*.3FR;*.arw;*.ARW;*.cr2;*.CR2;", "<patterns>*</patterns>\n\t<directories/>"}},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.path.string());
    ASSERT_TRUE(fs::exists(e.path));
    EXPECT_EQ(IsExecutable(e.path), e.executable);
    const std::string text = ReadFile(e.path);
    for (const std::string& line : e.lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  EXPECT_EQ(ServiceMenuProblems(expected[1].path), "");
  if (HasTool("xmllint")) {
    EXPECT_EQ(std::system(("xmllint --noout '" + uca.string() + "'").c_str()), 0);
  }
  const std::string ucaInstalled = ReadFile(uca);
  const std::size_t theirs = kForeignUca.find("<action>");
  EXPECT_NE(ucaInstalled.find(kForeignUca.substr(theirs, kForeignUca.find("</action>") - theirs)), std::string::npos);

  // The Nautilus script hands the selection to the program, which extracts.
  const fs::path photos = root_ / "photos";
  fs::create_directories(photos);
  fs::copy_file(kDemoRaw, photos / "a b.tif");
  std::string script = "cd '" + photos.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY HOME='" + (root_ / "home").string() + "' XDG_CONFIG_HOME='" +
                       config().string() + "' '" + expected[0].path.string() + "' 'a b.tif' >/dev/null 2>&1";
  EXPECT_EQ(std::system(script.c_str()), 0);
  EXPECT_TRUE(fs::exists(photos / "extracted_jpegs/a b_VLTR.jpg"));
  // Nautilus offers it on any file; on no RAW file at all the script says
  // there is nothing to do, instead of a failed run.
  WriteFile(photos / "notes.txt", "hi\n");
  fs::remove_all(photos / "extracted_jpegs");
  const std::string kindly = "cd '" + photos.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY PATH=/usr/bin:/bin HOME='" +
                             (root_ / "home").string() + "' '" + expected[0].path.string() + "' notes.txt 2>&1";
  std::string said;
  if (FILE* pipe = ::popen(kindly.c_str(), "r")) {
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) said.append(buf, n);
    EXPECT_EQ(::pclose(pipe), 0) << said;
  }
  EXPECT_NE(said.find("nothing to do"), std::string::npos) << said;
  EXPECT_FALSE(fs::exists(photos / "extracted_jpegs"));

  // Installing again changes nothing; the Nemo action goes in once it is free.
  fs::remove(nemo);
  ASSERT_EQ(Veltrano("", "desktop install").status, 0);
  EXPECT_EQ(ReadFile(uca), ucaInstalled);
  const std::string nemoText = ReadFile(nemo);
  for (const std::string& line :
       std::vector<std::string>{"[Nemo Action]\n", "Name=" + kLabel + "\n", exec, "Mimetypes=inode/directory;image/x-dcraw;"})
    EXPECT_NE(nemoText.find(line), std::string::npos) << line;
  EXPECT_FALSE(IsExecutable(nemo));

  // Remove: our files go, the user's uca.xml is as it was, byte for byte.
  fs::path foreignScript = data() / "nautilus/scripts/Mine";
  WriteFile(foreignScript, "#!/bin/sh\n");
  RunResult remove = Veltrano("", "desktop remove");
  EXPECT_EQ(remove.status, 0) << remove.err;
  for (const Expected& e : expected)
    if (e.path != uca) {
      EXPECT_FALSE(fs::exists(e.path)) << e.path;
    }
  EXPECT_FALSE(fs::exists(nemo));
  EXPECT_TRUE(fs::exists(foreignScript));
  EXPECT_TRUE(fs::is_symlink(uca));
  EXPECT_EQ(ReadFile(dotfile), kForeignUca);
  EXPECT_EQ(fs::status(dotfile).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(DesktopTest, OnlyTheFileManagersFoundUnlessAllAndAThunarFileOfOurOwnGoesAgain) {
  RunResult none = Veltrano("", "desktop install");
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_FALSE(fs::exists(data())) << none.out;
  EXPECT_FALSE(fs::exists(config())) << none.out;

  ASSERT_EQ(Veltrano("", "desktop install --all").status, 0);
  const fs::path uca = config() / "Thunar/uca.xml";
  ASSERT_TRUE(fs::exists(uca));
  if (HasTool("xmllint")) {
    EXPECT_EQ(std::system(("xmllint --noout '" + uca.string() + "'").c_str()), 0);
  }
  EXPECT_TRUE(fs::exists(data() / "nemo/actions/veltrano-extract.nemo_action"));

  // Thunar rewrote the file in its own layout: our action is still found.
  std::string text = ReadFile(uca);
  std::string rewritten;
  for (char c : text) rewritten += c == '\t' ? std::string("  ") : std::string(1, c);
  WriteFile(uca, rewritten);
  RunResult remove = Veltrano("", "desktop remove");
  EXPECT_EQ(remove.status, 0) << remove.err;
  EXPECT_FALSE(fs::exists(uca)) << ReadFile(uca);
  EXPECT_TRUE(fs::is_empty(data() / "nemo/actions"));
  EXPECT_TRUE(fs::is_empty(data() / "kio/servicemenus"));
  EXPECT_TRUE(fs::is_empty(data() / "nautilus/scripts"));
}

// With the package installed, a per-user install added a second Nemo (and
// Dolphin) entry beside the package's own: the menu showed it twice.
TEST_F(DesktopTest, APerUserInstallStepsAsideForThePackagesSystemWideEntries) {
  for (const char* fm : {"dolphin", "nemo", "thunar"}) StandIn(fm, "exit 0\n");
  const fs::path nemoUser = data() / "nemo/actions/veltrano-extract.nemo_action";
  const fs::path dolphinUser = data() / "kio/servicemenus/veltrano-extract.desktop";
  // An earlier per-user install, from before the package.
  ASSERT_EQ(Veltrano("", "desktop install").status, 0);
  ASSERT_TRUE(fs::exists(nemoUser));
  // The package's files, found through XDG_DATA_DIRS (a second folder
  // listed holds only someone else's file of that name).
  const fs::path nemoSystem = systemData() / "nemo/actions/veltrano-extract.nemo_action";
  WriteFile(nemoSystem, ReadFile(nemoUser), fs::perms::owner_read);
  const fs::path other = root_ / "other-share";
  WriteFile(other / "kio/servicemenus/veltrano-extract.desktop", "[Desktop Entry]\nType=Service\nName=Not ours\n");
  const std::string dirs = "XDG_DATA_DIRS='" + other.string() + ":" + systemData().string() + "'";

  RunResult again = Veltrano(dirs, "desktop install");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_FALSE(fs::exists(nemoUser));
  EXPECT_NE(again.out.find("Nemo: the system-wide entry " + nemoSystem.string() + " is installed; skipped (removed "
                           "the per-user copy " + nemoUser.string() + ")"),
            std::string::npos)
      << again.out;
  EXPECT_TRUE(fs::exists(dolphinUser)) << again.out;  // the other file is not the package's
  EXPECT_TRUE(fs::exists(config() / "Thunar/uca.xml"));
  EXPECT_TRUE(fs::exists(nemoSystem));

  // --all does not bring the per-user copy back either; remove leaves the
  // package's file alone.
  EXPECT_EQ(Veltrano(dirs, "desktop install --all").status, 0);
  EXPECT_FALSE(fs::exists(nemoUser));
  EXPECT_EQ(Veltrano(dirs, "desktop remove").status, 0);
  EXPECT_TRUE(fs::exists(nemoSystem));
  EXPECT_FALSE(fs::exists(dolphinUser));
}

// One recorded call of the stand-in notify-send: its arguments.
std::vector<std::vector<std::string>> NotifyCalls(const fs::path& log) {
  std::vector<std::vector<std::string>> calls;
  std::string text = ReadFile(log);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\x1e", start)) != std::string::npos; start = end + 1) {
    std::vector<std::string> args;
    std::string call = text.substr(start, end - start);
    for (std::size_t a = 0, z; (z = call.find('\0', a)) != std::string::npos; a = z + 1) args.push_back(call.substr(a, z - a));
    calls.push_back(args);
  }
  return calls;
}

bool HasArg(const std::vector<std::string>& args, const std::string& arg) {
  for (const std::string& a : args)
    if (a == arg) return true;
  return false;
}

TEST_F(DesktopTest, WithoutATerminalTheSummaryAndFailuresGoToTheDesktop) {
  const fs::path calls = root_ / "notify-calls";
  // Records its arguments, and answers --print-id with an id.
  StandIn("notify-send",
          "for a in \"$@\"; do printf '%s\\0' \"$a\" >>'" + calls.string() + "'; done\n"
          "printf '\\036' >>'" + calls.string() + "'\n"
          "for a in \"$@\"; do [ \"$a\" = --print-id ] && echo 41; done\nexit 0\n");
  const fs::path good = root_ / "good", bad = root_ / "bad";
  fs::create_directories(good);
  fs::copy_file(kDemoRaw, good / "one.tif");
  fs::create_directories(bad);
  fs::copy_file(kDemoRaw, bad / "two.tif");
  WriteFile(bad / "extracted_jpegs", "a file where the output folder should go");
  const std::string session = "DISPLAY=:77 XDG_STATE_HOME='" + state().string() + "'";

  // No desktop session: nothing is shown, nothing logged.
  RunResult quiet = Veltrano("", "'" + good.string() + "'");
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_FALSE(fs::exists(calls));

  fs::remove_all(good / "extracted_jpegs");
  RunResult ok = Veltrano(session, "'" + good.string() + "'");
  EXPECT_EQ(ok.status, 0) << ok.err;
  auto seen = NotifyCalls(calls);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(HasArg(seen.front(), "--print-id"));
  const std::vector<std::string>& last = seen.back();
  EXPECT_TRUE(HasArg(last, "--replace-id=41"));
  ASSERT_GE(last.size(), 2u);
  EXPECT_EQ(last[last.size() - 2], "Veltrano: JPEG previews extracted");
  const std::string& body = last.back();
  for (const char* line : {"RAW files scanned: 1\n", "New: 1\n", "Failed: 0\n", "Total time: ",
                           "Average time per new file: "})
    EXPECT_NE(body.find(line), std::string::npos) << line << " in " << body;
  EXPECT_FALSE(fs::exists(state() / "veltrano"));

  fs::remove(calls);
  RunResult failed = Veltrano(session, "'" + bad.string() + "'");
  EXPECT_EQ(failed.status, 1);
  const fs::path log = state() / "veltrano/failures.log";
  const std::string logged = ReadFile(log);
  EXPECT_NE(logged.find((bad / "two.tif").string() + ": "), std::string::npos) << logged;
  // The log carries the line standard error shows, the system's reason included.
  const std::string shown = "veltrano: " + (bad / "two.tif").string() + ": ";
  const std::size_t at = failed.err.find(shown);
  ASSERT_NE(at, std::string::npos) << failed.err;
  const std::string line = failed.err.substr(at + 10, failed.err.find('\n', at) - at - 10);
  EXPECT_NE(line.find("a file of that name is in the way"), std::string::npos) << line;
  EXPECT_NE(logged.find(line + "\n"), std::string::npos) << line << " in " << logged;
  seen = NotifyCalls(calls);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back()[seen.back().size() - 2], "Veltrano: 1 file failed");
  EXPECT_NE(seen.back().back().find("The failures are listed in " + log.string()), std::string::npos)
      << seen.back().back();
}

}  // namespace

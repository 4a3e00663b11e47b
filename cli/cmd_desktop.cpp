// `veltrano desktop install|remove`: the per-user file-manager actions that
// run `veltrano extract` on the selection. Each action is one file of ours
// (marked X-Veltrano-Managed), except Thunar's, which is one <action> element
// merged into the user's uca.xml and taken out again without touching the
// rest of that file.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/commands.h"
#include "cli/desktop_report.h"
#include "cli/desktop_templates.h"
#include "platform/atomic_write.h"
#include "platform/desktop_session.h"

namespace fs = std::filesystem;

namespace {

struct DesktopArgs {
  bool all = false;
};

#ifndef _WIN32
// Files carrying this text are ours to replace and remove.
constexpr const char kOwnMarker[] = "X-Veltrano-Managed";
// Identify our elements in Thunar's uca.xml: one for RAW files (by name), one
// for folders (Thunar matches a folder's name against the patterns too).
constexpr const char* kThunarUniqueIds[] = {"<unique-id>veltrano-extract-previews</unique-id>",
                                            "<unique-id>veltrano-extract-previews-folders</unique-id>"};
// The uca.xml we write when the user has none; it goes again when our action
// is all it would hold.
constexpr const char kThunarEmptyFile[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- X-Veltrano-Managed: made by veltrano desktop install -->\n"
    "<actions>\n"
    "</actions>\n";
constexpr const char kThunarListEnd[] = "</actions>";

enum class Kind { kOwnFile, kThunarMerge };

struct FileManager {
  const char* name;      // as shown to the user
  const char* program;   // looked for on PATH
  const char* baseVar;   // XDG base folder holding the action
  const char* baseHome;  // its default under $HOME
  const char* folder;    // below the base folder
  const char* fileName;  // empty: the menu label
  const char* text;      // template
  fs::perms mode;
  Kind kind;
  bool systemWide;       // the file manager also reads <data dir>/<folder>/<fileName>
};

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec;
constexpr fs::perms kReadable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read;

// Recent Dolphin versions run a service menu from the user's folder only
// when it is executable.
const FileManager kFileManagers[] = {
    {"Nautilus", "nautilus", "XDG_DATA_HOME", ".local/share", "nautilus/scripts", "", kNautilusScriptTemplate,
     kExecutable, Kind::kOwnFile, false},
    {"Dolphin", "dolphin", "XDG_DATA_HOME", ".local/share", "kio/servicemenus", "veltrano-extract.desktop",
     kDolphinServiceMenuTemplate, kExecutable, Kind::kOwnFile, true},
    {"Nemo", "nemo", "XDG_DATA_HOME", ".local/share", "nemo/actions", "veltrano-extract.nemo_action",
     kNemoActionTemplate, kReadable, Kind::kOwnFile, true},
    {"Thunar", "thunar", "XDG_CONFIG_HOME", ".config", "Thunar", "uca.xml", kThunarActionTemplate, kReadable,
     Kind::kThunarMerge, false},
};

bool ReadWhole(const fs::path& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A symbolic link (a dotfiles checkout, say) stays one: its target is written.
bool WriteWhole(fs::path path, const std::string& text, fs::perms mode) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(path, ec))) {
    path = fs::canonical(path, ec);
    if (ec) return false;
  }
  fs::create_directories(path.parent_path(), ec);
  if (!ReplaceFileAtomically(path.native(), text.data(), text.size())) return false;
  fs::permissions(path, mode, ec);
  return !ec;
}

// The program's path as one word of a command line that the four file
// managers (desktop-entry Exec rules, GLib's shell-like parsing, sh) all read
// the same way: bare when it is plain, else in double quotes. Paths holding
// characters that would need escaping in one of them are refused.
bool QuoteProgram(const std::string& path, std::string& word) {
  bool plain = true;
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7f || c == '%' || c == '"' || c == '`' || c == '$' || c == '\\' || c == '\'')
      return false;
    if (!(std::isalnum(c) || c >= 0x80 || std::string_view("_/.+,:=@-").find(static_cast<char>(c)) !=
                                              std::string_view::npos))
      plain = false;
  }
  word = plain ? path : "\"" + path + "\"";
  return true;
}

std::string Filled(const char* text, const std::string& exec) {
  std::string s(text);
  const std::string key = "@EXEC@";
  for (std::size_t at = s.find(key); at != std::string::npos; at = s.find(key, at + exec.size()))
    s.replace(at, key.size(), exec);
  return s;
}

// uca.xml without our element. The element as we wrote it is taken out byte
// for byte, whatever program path it holds; one that Thunar has rewritten is
// found by its unique id and taken out with its line's indent and newline.
std::string WithoutThunarAction(std::string xml) {
  const std::string all = kThunarActionTemplate;
  const std::string_view elementEnd = "</action>\n";
  for (std::size_t from = 0, to; (to = all.find(elementEnd, from)) != std::string::npos;
       from = to + elementEnd.size()) {
    const std::string templ = all.substr(from, to + elementEnd.size() - from);  // one <action> element
    const std::size_t hole = templ.find("@EXEC@");
    if (hole == std::string::npos) continue;
    const std::string head = templ.substr(0, hole), tail = templ.substr(hole + 6);
    for (std::size_t at = xml.find(head); at != std::string::npos; at = xml.find(head, at)) {
      std::size_t end = xml.find(tail, at + head.size());
      if (end == std::string::npos) break;
      std::string exec = xml.substr(at + head.size(), end - at - head.size());
      if (exec.find_first_of("<\n") == std::string::npos) {
        xml.erase(at, end + tail.size() - at);
      } else {
        ++at;
      }
    }
  }
  for (const char* uniqueId : kThunarUniqueIds) {
    for (std::size_t id = xml.find(uniqueId); id != std::string::npos; id = xml.find(uniqueId)) {
      std::size_t start = xml.rfind("<action>", id), close = xml.find("</action>", id);
      if (start == std::string::npos || close == std::string::npos) break;
      std::size_t end = close + std::string_view("</action>").size();
      std::size_t lineStart = start;
      while (lineStart > 0 && (xml[lineStart - 1] == ' ' || xml[lineStart - 1] == '\t')) --lineStart;
      if ((lineStart == 0 || xml[lineStart - 1] == '\n') && end < xml.size() && xml[end] == '\n') {
        start = lineStart;
        ++end;
      }
      xml.erase(start, end - start);
    }
  }
  return xml;
}

struct Outcome {
  bool ok = true;
  std::string text;
};

// The system-wide entry of ours (the package's) that the file manager reads
// besides the user's; empty when there is none. A per-user copy would show
// the entry twice.
fs::path SystemWideEntry(const FileManager& fm, const std::string& userBase) {
  if (!fm.systemWide) return {};
  for (const std::string& dir : XdgDataDirs()) {
    if (dir == userBase) continue;
    const fs::path candidate = fs::path(dir) / fm.folder / fm.fileName;
    std::string text;
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec) && ReadWhole(candidate, text) &&
        text.find(kOwnMarker) != std::string::npos)
      return candidate;
  }
  return {};
}

// Skips a file manager that has the system-wide entry; a per-user copy of
// ours from before goes, so that the entry is shown once.
Outcome SkipForSystemWide(const fs::path& system, const fs::path& target) {
  std::string text = "the system-wide entry " + system.string() + " is installed; skipped";
  std::string existing;
  std::error_code ec;
  if (fs::exists(target, ec) && ReadWhole(target, existing) && existing.find(kOwnMarker) != std::string::npos) {
    if (!fs::remove(target, ec)) return {false, text + ", but cannot remove the per-user copy " + target.string()};
    text += " (removed the per-user copy " + target.string() + ")";
  }
  return {true, text};
}

Outcome InstallOne(const FileManager& fm, const fs::path& target, const std::string& exec) {
  std::string existing;
  const bool exists = fs::exists(target);
  if (exists && !ReadWhole(target, existing)) return {false, "cannot read " + target.string()};
  if (fm.kind == Kind::kOwnFile) {
    if (exists && existing.find(kOwnMarker) == std::string::npos)
      return {false, target.string() + " exists and is not ours; left alone"};
    if (!WriteWhole(target, Filled(fm.text, exec), fm.mode)) return {false, "cannot write " + target.string()};
    return {true, "installed " + target.string()};
  }
  std::string xml = exists ? WithoutThunarAction(existing) : std::string(kThunarEmptyFile);
  const std::size_t end = xml.rfind(kThunarListEnd);
  if (end == std::string::npos) return {false, target.string() + " holds no action list; left alone"};
  xml.insert(end, Filled(fm.text, MarkupEscaped(exec)));
  fs::perms mode = exists ? fs::status(target).permissions() : fm.mode;
  if (!WriteWhole(target, xml, mode)) return {false, "cannot write " + target.string()};
  return {true, "added the action to " + target.string()};
}

Outcome RemoveOne(const FileManager& fm, const fs::path& target) {
  if (!fs::exists(target)) return {true, "nothing to remove"};
  std::string existing;
  if (!ReadWhole(target, existing)) return {false, "cannot read " + target.string()};
  std::error_code ec;
  if (fm.kind == Kind::kOwnFile) {
    if (existing.find(kOwnMarker) == std::string::npos)
      return {true, target.string() + " is not ours; left alone"};
    if (!fs::remove(target, ec)) return {false, "cannot remove " + target.string()};
    return {true, "removed " + target.string()};
  }
  const std::string xml = WithoutThunarAction(existing);
  if (xml == existing) return {true, "nothing to remove"};
  if (xml == kThunarEmptyFile) {
    if (!fs::remove(target, ec)) return {false, "cannot remove " + target.string()};
    return {true, "removed " + target.string()};
  }
  if (!WriteWhole(target, xml, fs::status(target).permissions()))
    return {false, "cannot write " + target.string()};
  return {true, "removed the action from " + target.string()};
}

#endif  // !_WIN32

int RunDesktop(bool install, const DesktopArgs& args) {
#ifdef _WIN32
  (void)install, (void)args;
  std::fprintf(stderr, "veltrano: desktop: the file-manager actions are for Linux desktops; on Windows, "
                       "`regsvr32 Veltrano.dll` adds the context-menu entry\n");
  return kExitUsage;
#else
  std::string exec;
  if (install) {
    std::string self = OwnExecutablePath();
    if (self.empty()) self = FindOnPath("veltrano");
    if (self.empty()) {
      std::fprintf(stderr, "veltrano: desktop: cannot tell where this program is\n");
      return kExitFailed;
    }
    if (!QuoteProgram(self, exec)) {
      std::fprintf(stderr, "veltrano: desktop: the program's path %s holds a character the file managers' "
                           "command lines cannot carry; install it elsewhere\n", self.c_str());
      return kExitFailed;
    }
  }
  int rc = kExitOk;
  for (const FileManager& fm : kFileManagers) {
    const std::string base = XdgBaseFolder(fm.baseVar, fm.baseHome);
    if (base.empty()) {
      std::fprintf(stderr, "veltrano: desktop: neither $%s nor $HOME is set\n", fm.baseVar);
      return kExitFailed;
    }
    const fs::path target = fs::path(base) / fm.folder / (fm.fileName[0] ? fm.fileName : kActionLabel);
    Outcome o;
    try {
      if (!install) o = RemoveOne(fm, target);
      else if (const fs::path system = SystemWideEntry(fm, base); !system.empty()) o = SkipForSystemWide(system, target);
      else if (args.all || !FindOnPath(fm.program).empty()) o = InstallOne(fm, target, exec);
      else o = {true, "not found; skipped (--all installs for it anyway)"};
    } catch (const fs::filesystem_error& e) {
      o = {false, e.what()};
    }
    std::fprintf(o.ok ? stdout : stderr, "%s%s: %s\n", o.ok ? "" : "veltrano: desktop: ", fm.name, o.text.c_str());
    if (!o.ok) rc = kExitFailed;
  }
  return rc;
#endif
}

}  // namespace

void add_desktop_command(CLI::App& app, int* exit_code) {
  auto args = std::make_shared<DesktopArgs>();
  CLI::App* cmd = app.add_subcommand("desktop", "Add or remove the file managers' \"" + std::string(kActionLabel) +
                                                    "\" entry (per user)");
  cmd->require_subcommand(1);
  CLI::App* install = cmd->add_subcommand("install", "Add the entry to Nautilus, Dolphin, Nemo and Thunar");
  install->add_flag("--all", args->all, "Also for the file managers not found on PATH");
  install->callback([args, exit_code] { *exit_code = RunDesktop(true, *args); });
  CLI::App* remove = cmd->add_subcommand("remove", "Take the entry away again");
  remove->callback([args, exit_code] { *exit_code = RunDesktop(false, *args); });
}

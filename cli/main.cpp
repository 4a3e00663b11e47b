// veltrano: pulls the embedded JPEG previews out of camera RAW files.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/native_file.h"
#include "platform/native_path.h"
#include "veltrano_version.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "platform/machine_path.h"
#include "platform/native_path.h"
#endif

namespace {

// The sub-commands; any other first argument starts `extract`.
constexpr const char* kSubcommands[] = {"extract", "settings", "info", "preview", "desktop"};
constexpr const char* kTopLevelFlags[] = {"-h", "--help", "--help-all", "--version"};

// What `veltrano` alone prints.
constexpr const char* kShortUsage =
    "Usage: veltrano [extract] [OPTIONS] PATH...\n"
    "  Writes the JPEG preview of each RAW file named, and of the RAW files in each folder named\n"
    "  (-r: also in their sub-folders), to extracted_jpegs/ beside them (-o DIR: under DIR).\n"
    "  `veltrano extract --help` lists the options; other commands: info, preview, settings, desktop\n"
    "  (`veltrano --help` says what each does).";

// The top-level help's one usage line; the commands' own are CLI11's.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App* app, std::string name) const override {
    if (app->get_parent() == nullptr) return "\nUsage: veltrano [COMMAND] [OPTIONS] [ARGS]...\n";
    return CLI::Formatter::make_usage(app, std::move(name));
  }
};

bool NeedsImplicitExtract(int argc, char** argv) {
  if (argc < 2) return false;
  for (const char* name : kSubcommands)
    if (std::strcmp(argv[1], name) == 0) return false;
  for (const char* flag : kTopLevelFlags)
    if (std::strcmp(argv[1], flag) == 0) return false;
  return true;
}

#ifdef _WIN32
// The installer's hidden mode: `veltrano --machine-path add|remove FOLDER`
// edits the machine PATH through the registry calls (NSIS strings would cut
// a long PATH). Exit 0 when changed, 10 when there was nothing to do, 1 on
// failure (with the reason on stderr), 2 on a wrong command line.
constexpr const char* kMachinePathMode = "--machine-path";
constexpr int kExitNothingToDo = 10;

int RunMachinePathMode(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[2], "add") != 0 && std::strcmp(argv[2], "remove") != 0) || !*argv[3]) {
    std::fprintf(stderr, "usage: veltrano --machine-path add|remove FOLDER\n");
    return kExitUsage;
  }
  const std::wstring folder = native_from_utf8(argv[3]);
  std::wstring why;
  const MachinePathResult result =
      std::strcmp(argv[2], "add") == 0 ? machine_path_add(folder, why) : machine_path_remove(folder, why);
  if (result == MachinePathResult::kFailed) {
    std::fprintf(stderr, "veltrano: %s\n", native_to_utf8(why).c_str());
    return kExitFailed;
  }
  return result == MachinePathResult::kChanged ? kExitOk : kExitNothingToDo;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The console hands narrow arguments in the ANSI code page; the paths are
  // taken from the wide command line instead, as UTF-8.
  std::vector<std::string> utf8_args;
  std::vector<char*> utf8_argv;
  int wargc = 0;
  if (wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc)) {
    for (int i = 0; i < wargc; ++i) utf8_args.push_back(native_to_utf8(wargv[i]));
    LocalFree(wargv);
    for (std::string& a : utf8_args) utf8_argv.push_back(a.data());
    utf8_argv.push_back(nullptr);
    argc = wargc;
    argv = utf8_argv.data();
  }
  if (argc >= 2 && std::strcmp(argv[1], kMachinePathMode) == 0) return RunMachinePathMode(argc, argv);
#endif
  // Named here, so that messages and help say "veltrano", never the path
  // the program was started by.
  CLI::App app{"Veltrano: extract the embedded JPEG previews of camera RAW files", "veltrano"};
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer(
      "Without a COMMAND, veltrano runs extract: `veltrano [OPTIONS] PATH...`.\n"
      "`veltrano COMMAND --help` lists a command's options; `man veltrano` tells all.");
  app.failure_message(UsageErrorText);
  app.set_version_flag("--version", "veltrano " VELTRANO_VERSION_TEXT);
  app.require_subcommand(1);
  // Set before the commands are added, so that each of them takes it too.
  app.set_help_all_flag("--help-all", "Print the help of every command and exit");
  int exit_code = kExitOk;
  add_extract_command(app, &exit_code);
  add_settings_command(app, &exit_code);
  add_info_command(app, &exit_code);
  add_preview_command(app, &exit_code);
  add_desktop_command(app, &exit_code);

  if (argc < 2) {
    std::fprintf(stderr, "%s\n", kShortUsage);
    return kExitUsage;
  }
  std::vector<char*> args(argv, argv + argc);
  char extract_word[] = "extract";
  const bool implied = NeedsImplicitExtract(argc, argv);
  if (implied) args.insert(args.begin() + 1, extract_word);
  // A mistyped word is named before anything else is checked: `--verison`
  // is not a missing PATH, `desktop instal` not a missing command.
  {
    std::vector<std::string> words(args.begin(), args.end());
    std::vector<std::string> topLevel;
    if (implied)
      for (const char* flag : kTopLevelFlags) topLevel.push_back(flag);
    std::string unknown = FindUnknownWord(app, words, topLevel);
    // `veltrano prevew x.CR2`: a first word that names no file or folder but
    // comes near a command is taken for a mistyped command.
    if (unknown.empty() && implied && argv[1][0] != '-' && !NativePathExists(native_from_utf8(argv[1]))) {
      std::vector<std::string> commands(std::begin(kSubcommands), std::end(kSubcommands));
      const std::string nearest = NearestWord(argv[1], commands);
      if (!nearest.empty())
        unknown = std::string("unknown command ") + argv[1] + " (and no file or folder of that name); did you mean " +
                  nearest + "?";
    }
    if (!unknown.empty()) {
      std::fprintf(stderr, "veltrano: %s\nRun `veltrano --help` for more.\n", unknown.c_str());
      return kExitUsage;
    }
  }
  try {
    app.parse(static_cast<int>(args.size()), args.data());
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  } catch (const std::exception& e) {
    // Anything the commands did not handle (out of memory, say) is a
    // failure with its reason, never an abort.
    std::fprintf(stderr, "veltrano: %s\n", e.what());
    return kExitFailed;
  }
  return exit_code;
}

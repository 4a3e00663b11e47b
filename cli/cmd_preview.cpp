// `veltrano preview FILE [-o OUT] [--force]`: writes the complete JPEG that
// the probe returns for one file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "settings/settings_record.h"
#include "cli/display_text.h"
#include "platform/atomic_write.h"
#include "platform/native_file.h"
#include "probe/probe.h"

#ifdef _WIN32
#include <io.h>
#define VELTRANO_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define VELTRANO_ISATTY(f) isatty(fileno(f))
#endif

namespace {

int fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "veltrano: %s: %s\n", DisplayText(file).c_str(), reason.c_str());
  return kExitFailed;
}

// Why the file cannot be opened ("cannot open: No such file or directory"),
// or empty when it can.
std::string OpenProblem(const NativePath& raw) {
  std::error_code why;
  if (NativeFile::open_for_reading(raw, &why)) return {};
  return "cannot open: " + (why ? why.message() : std::string("not a regular file"));
}

struct FreeBuffer {
  void operator()(unsigned char* p) const { std::free(p); }
};

}  // namespace

void add_preview_command(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand("preview", "Write the embedded JPEG preview of one file");
  auto file = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  auto force = std::make_shared<bool>(false);
  auto exif = std::make_shared<std::string>(exif_mode_name(kDefaultExifMode));
  auto noKeepTimes = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "RAW file")->required();
  cmd->add_option("-o,--output", *out,
                  "Output file, or - for standard output (default: FILE's name with .jpg, beside it)");
  cmd->add_flag("--force", *force, "Replace an existing output file");
  cmd->add_option("--exif", *exif,
                  kExifOptionHelp)
      ->check(CLI::IsMember({"basic", "full"}));
  cmd->add_flag("--no-keep-times", *noKeepTimes, kNoKeepTimesHelp);
  cmd->callback([file, out, force, exif, noKeepTimes, exit_code] {
    const NativePath raw = native_from_utf8(*file);
    std::string target = *out;
    if (target.empty()) target = std::filesystem::path(*file).replace_extension(".jpg").string();
    if (target == *file) {
      *exit_code = fail(*file, "output would replace the input file");
      return;
    }
    // JPEG bytes would only garble a terminal.
    if (target == "-" && VELTRANO_ISATTY(stdout)) {
      std::fprintf(stderr,
                   "veltrano: preview -o - writes a JPEG file's bytes, which a terminal cannot show; send them to a "
                   "file (> %s.jpg) or a program (| display -)\n",
                   DisplayText(std::filesystem::path(*file).stem().string()).c_str());
      *exit_code = kExitUsage;
      return;
    }
    if (target != "-" && !*force && NativePathExists(native_from_utf8(target))) {
      *exit_code = fail(target, "output exists (use --force to replace it)");
      return;
    }
    if (const std::string problem = OpenProblem(raw); !problem.empty()) {
      *exit_code = fail(*file, problem);
      return;
    }
    unsigned char* data = nullptr;
    std::uint32_t length = 0, rotated = 0;
    const ExifMode mode = *exif == exif_mode_name(ExifMode::full) ? ExifMode::full : ExifMode::basic;
    if (!probe_extract_jpeg_preview(raw, kVeltranoSoftware, &data, &length, &rotated, mode)) {
      std::free(data);
      const std::string problem = OpenProblem(raw);
      *exit_code = fail(*file, problem.empty() ? "no embedded JPEG preview" : problem);
      return;
    }
    std::unique_ptr<unsigned char, FreeBuffer> owned(data);
    if (target == "-") {
      if (std::fwrite(data, 1, length, stdout) != length || std::fflush(stdout) != 0) {
        *exit_code = fail(*file, "cannot write to standard output");
        return;
      }
      *exit_code = kExitOk;
      return;
    }
    const NativePath dest = native_from_utf8(target);
    const FileTimes times = *noKeepTimes ? FileTimes{} : ReadFileTimes(raw);
    std::error_code why;
    bool written = *force ? ReplaceFileAtomically(dest, data, length, &times, &why)
                          : WriteFileNoReplace(dest, data, length, &times, &why);
    if (written) {
      *exit_code = kExitOk;
    } else if (!*force && NativePathExists(dest)) {
      *exit_code = fail(target, "output exists (use --force to replace it)");  // it appeared meanwhile
    } else {
      *exit_code = fail(target, "cannot write: " + (why ? why.message() : std::string("unknown reason")));
    }
  });
}

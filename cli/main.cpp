// veltrano: pulls the embedded JPEG previews out of camera RAW files.
#include <cstdio>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Veltrano: extract the embedded JPEG preview of camera RAW files"};
  app.require_subcommand(1);
  int exit_code = kExitOk;
  add_info_command(app, &exit_code);
  add_preview_command(app, &exit_code);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }
  return exit_code;
}

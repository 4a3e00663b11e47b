// Sub-commands of the `veltrano` program, one file each.
#pragma once

#include <CLI/CLI.hpp>

#include "probe/exif_mode.h"

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

// Help of the --exif option of `extract` and `preview`: the default mode
// first, named so.
inline constexpr const char* kExifOptionHelp =
    kDefaultExifMode == ExifMode::full
        ? "full (the default): the RAW's whole Exif (date taken, lens, serial numbers...); basic: the preview's own "
          "Exif, or a small block from the RAW"
        : "basic (the default): the preview's own Exif, or a small block from the RAW; full: the RAW's whole Exif "
          "(date taken, lens, serial numbers...)";
// Help of the --no-keep-times flag of `extract` and `preview`.
inline constexpr char kNoKeepTimesHelp[] =
    "Outputs get the time of their writing, not the RAW file's modification time";

// Largest side of the scaled copy's box: JPEG sides are 16-bit numbers.
inline constexpr int kMaxBoxSide = 65535;

// Each adds its sub-command to the app; the callback it installs stores the
// command's exit code in *exit_code.
void add_info_command(CLI::App& app, int* exit_code);
void add_preview_command(CLI::App& app, int* exit_code);
void add_extract_command(CLI::App& app, int* exit_code);
void add_settings_command(CLI::App& app, int* exit_code);
void add_desktop_command(CLI::App& app, int* exit_code);

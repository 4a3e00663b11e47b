// What the program needs of the user's desktop session when it runs without a
// terminal (started from a file manager): the per-user base folders, the
// helper programs on PATH and a way to run them. POSIX only; on Windows these
// report "no session", empty paths and programs that cannot run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// $<variable> when it is an absolute path, else $HOME/<underHome>; empty when
// neither is known. For the XDG base folders, e.g. ("XDG_DATA_HOME",
// ".local/share"). A relative value is invalid and ignored.
std::string XdgBaseFolder(const char* variable, const char* underHome);

// The system-wide data folders, most important first: the absolute entries
// of $XDG_DATA_DIRS, or /usr/local/share and /usr/share when it is unset or
// holds none (a packaged program's desktop entries live there).
std::vector<std::string> XdgDataDirs();

// True when standard error is no terminal and a graphical session (X11 or
// Wayland) is there to show notifications.
bool DesktopSessionWithoutTerminal();

// Full path of the program `name` found on PATH; empty when absent.
std::string FindOnPath(const std::string& name);

// Full path of the running program; empty when unknown.
std::string OwnExecutablePath();

// Runs `program` with `args` (no shell), standard input from /dev/null,
// standard error discarded, and waits for it. Up to kMaxProgramOutput bytes
// of its standard output go to *output when it is not null. Returns the exit
// status, or -1 when the program could not be run or did not exit normally.
inline constexpr std::size_t kMaxProgramOutput = 4096;
int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* output);

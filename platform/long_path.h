// Paths of any length for the Windows file calls. An ordinary path is cut
// off at MAX_PATH (260 characters; 248 for a new folder) unless the program
// and the machine both opt in to long paths; the extended-length form
// (`\\?\C:\...`, `\\?\UNC\server\share\...`) has no such limit on any
// version. That form is taken literally by the system, so it is only made
// from a full, normalised path.
#pragma once

#include <string>

// The extended-length form of a full path: `\\?\` before a drive path
// (`C:\...`), `\\?\UNC\` in place of the leading `\\` of a UNC path.
// Returned unchanged: paths in that form already or device paths (`\\?\`,
// `\\.\`, `\??\`), relative and drive-relative paths (`x`, `C:x`, `\x`), and
// any path the system would still have to normalise (a `/`, an empty, `.` or
// `..` segment, or a segment ending in a dot or a space), since the prefix
// would switch that normalisation off. Portable, so that every build tests
// it; only the Windows build calls it.
std::wstring ExtendedLengthForm(const std::wstring& full_path);

#ifdef _WIN32
// The path to hand to a Win32 file call: made full and normalised the way
// the system does it for ordinary paths (GetFullPathNameW: relative paths
// against the current folder, `/` to `\`, `.` and `..` resolved, trailing
// dots and spaces dropped), then in extended-length form. The one place the
// platform code turns a path into what the file calls get.
std::wstring Win32FilePath(const std::wstring& path);
#endif

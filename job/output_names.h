// Output folders and file names of the extraction job, and the small file
// helpers it uses. Paths are native strings with the platform's separator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/native_path.h"

// Native string from ASCII text (placeholders, fixed names).
NativePath NativeFromAscii(const char* ascii);

// Replaces every occurrence of placeholder, scanning from the left; the scan
// resumes behind each inserted replacement, so it is never expanded again.
// An empty placeholder changes nothing.
void ReplaceAll(NativePath& text, const NativePath& placeholder, const NativePath& replacement);

// The path up to and including its last separator (a single separator at the
// very end is dropped first). False, folder untouched, without a separator.
bool GetFolderPart(const NativePath& path, NativePath& folder);

// The part after the last separator; the whole path when it has none.
NativePath GetNamePart(const NativePath& path);

// folder = base + separator (when base is non-empty and lacks one) + name.
// True when that is a directory already or was created now (here or by
// anyone meanwhile). Otherwise *why, when given, says why not: "a file of
// that name is in the way", or the system's reason. *made, when given, is
// set to whether this call created it.
bool EnsureFolder(const NativePath& base, const NativePath& name, NativePath& folder, std::string* why = nullptr,
                  bool* made = nullptr);

// Removes the folder when it is empty; anything in it keeps it.
bool RemoveFolderIfEmpty(const NativePath& folder);

// What a dry run asks instead of EnsureFolder: whether base + name could be
// used as an output folder, i.e. it is a folder new files can go into, or
// it is missing and the nearest folder above it that exists takes new
// entries. Otherwise false with *why as for EnsureFolder. Changes nothing.
bool CouldEnsureFolder(const NativePath& base, const NativePath& name, NativePath& folder, std::string* why = nullptr);

// output_path = folder + separator (when needed) + file_name. True when that
// file can be opened for reading (it is closed again at once).
bool OutputExists(const NativePath& folder, const NativePath& file_name, NativePath& output_path);

// Opens by native path; mode is "rb" or "wb" (binary is enforced). Null on
// failure. Other openers of the file are not refused.
std::FILE* OpenFileWide(const NativePath& path, const char* mode);

// Folder pattern with %W and %H replaced by the box size (decimal, "%d").
NativePath ExpandFolderPattern(NativePath pattern, std::int32_t width, std::int32_t height);

// File pattern expanded in the order %N, %E, %W, %H, where %N is the RAW
// name up to its first dot (the whole name without a dot) and %E the rest
// after that dot. Placeholders arriving with the name are expanded by the
// later steps: "A%WB.CR2" with "%N_VLTR.jpg" and width 0 gives "A0B_VLTR.jpg".
NativePath ExpandFilePattern(NativePath pattern, const NativePath& raw_name, std::int32_t width,
                             std::int32_t height);

// Where the outputs of each selected path go under an output folder (the
// command's --output), as a folder name relative to it, one per path in
// selection order. With one path given, its tree is mirrored straight under
// the output folder (empty name). With several, each folder gets its own
// base name; a base name met again (ASCII case ignored, so the tree copies
// to any file system) gets the first free of _2, _3, ... in the order given,
// and the same folder given again keeps its first name. Files named directly
// go to the output folder itself (empty name).
std::vector<NativePath> MirrorFolderNames(const std::vector<NativePath>& selection, const std::vector<bool>& isFolder);

// Makes root (its parent must exist) and below it each folder of the
// relative path, as far as they are missing; folder ends as the deepest.
// Otherwise false, with folder naming the one that could not be made and
// *why, when given, saying why (as for EnsureFolder).
bool EnsureFolderChain(const NativePath& root, const NativePath& relative, NativePath& folder,
                       std::string* why = nullptr);

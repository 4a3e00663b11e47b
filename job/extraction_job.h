// The extraction job: walks a selection of files and folders, finds the
// camera RAW files with an embedded JPEG preview, writes each preview as a
// JPEG file (and, when asked, a scaled-down copy), and keeps the counters.
//
// Outputs are never replaced and never left half-written: every file goes
// to a temporary name first and is moved into place only when complete,
// and only when nothing has appeared at the target meanwhile.
//
// Several workers may extract at once; their results are exactly those of
// one worker: outputs are claimed in walk order, so where two RAW files
// share an output name (IMG_1.CR2 and IMG_1.NEF) the first in walk order
// writes it and the later one finds it existing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "job/job_host.h"
#include "platform/native_path.h"
#include "settings/settings_record.h"

struct JobOptions {
  SettingsRecord settings;   // the job's own copy; later changes do not reach it
  bool recursive = false;    // also walk the sub-folders of selected folders
  unsigned workers = 1;      // parallel workers (0 counts as 1)
  bool dryRun = false;       // decide and report every output, write nothing
};

// The whole job. Results go to the host: counters, outputs and failures
//. Returns when done or
// cancelled; on cancel jobDone stays false and the outputs written so far
// stay on disk.
void RunExtraction(JobHost& host, const std::vector<NativePath>& selection, const JobOptions& options);

// The walk step for one selected path: a file is appended when it is a
// candidate; a folder contributes its direct files (and, when recursive,
// those of its sub-folders), in name order. Checks for cancel after each
// folder entry.
void CollectCandidates(JobHost& host, std::vector<NativePath>& candidates, const NativePath& path,
                       bool recursive = false);

// Not a name ending in .jpg/.jpeg/.jpe (ASCII case-insensitive), and the
// probe finds a JPEG preview in it.
bool IsCandidate(const NativePath& path);

// True for names ending in .jpg, .jpeg or .jpe in any ASCII case.
bool HasJpegExtension(const NativePath& path);

struct ExtractOneResult {
  bool written = false;  // this call created the output
  bool existed = false;  // the output was there already
};

// Makes one output of one RAW file, on the calling thread: composes the
// output path from the patterns (folder width/height fill the folder
// pattern's %W/%H, file width/height the file pattern's), leaves an
// existing output alone, else extracts the preview and writes it.
ExtractOneResult ExtractOne(const NativePath& rawPath, NativePath& outputPath, const NativePath& folderPattern,
                            const NativePath& filePattern, std::int32_t folderWidth, std::int32_t folderHeight,
                            std::int32_t fileWidth, std::int32_t fileHeight);

// Writes the block as a new file at path: complete or not at all, never
// replacing a file that is there. True only when every byte reached the file.
bool WriteBufferToFile(const NativePath& path, const void* bytes, std::size_t length);

// Size from the frame header of a JPEG in memory; false when none is found
// within the buffer.
bool JpegFrameSize(const unsigned char* data, std::size_t length, std::int32_t& width, std::int32_t& height);

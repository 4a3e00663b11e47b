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
  bool keepTimes = true;     // outputs get the RAW file's times (as `cp -p`)
  // When set, outputs go under this folder instead of beside the RAW files:
  // the selection is mirrored there (see MirrorFolderNames), and missing
  // folders are made under it; the RAW side is only read.
  NativePath outputFolder;
};

// The whole job: the walk collects the candidates, then each one is
// extracted. Results go to the host: counters, outputs and failures.
// Returns when done or cancelled; on cancel jobDone stays false and the outputs written so far
// stay on disk.
void RunExtraction(JobHost& host, const std::vector<NativePath>& selection, const JobOptions& options);

// True for names ending in .jpg, .jpeg or .jpe in any ASCII case.
bool HasJpegExtension(const NativePath& path);

// Size from the frame header of a JPEG in memory; false when none is found
// within the buffer.
bool JpegFrameSize(const unsigned char* data, std::size_t length, std::int32_t& width, std::int32_t& height);

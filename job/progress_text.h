// The texts that report a job's progress: the progress dialog's status text
// and the command line's summary share the same lines and time format.
#pragma once

#include <cstdint>
#include <string>

#include "job/job_host.h"

// h:mm:ss when there are hours; m:ss min when there are minutes; s sec.
std::string FormatTimeText(std::int64_t seconds);

// The progress dialog's text: "Files Scanned: N", "JPEGs Extracted: T Total
// - N New", and once done the total and average times and the closing
// notice. Average = elapsedSeconds / newCount (0 without new files).
std::string StatusText(const JobCounters& counters);

// The progress dialog's text while the walk runs: "Scanning..." and the
// number of files found so far.
std::string ScanningText(std::int32_t filesFound);

// "Could not extract N files: reason" ("1 file"), the line the progress
// dialog adds when files failed.
std::string FailureLine(std::int32_t failedFiles, const std::string& reason);

// What a failure says to the user: the system's own words when it gave any
// ("Access is denied"), without a closing full stop, else the job's reason.
std::string FailureReasonForUser(const FileFailure& failure);

// The command line's summary, one line each, ending in a newline: the RAW
// files found, how many are new, already there and failed, the files that
// are no RAW files, the JPEG files written and found, the times. seconds
// is the time the extraction took (whole seconds in the time text),
// average the seconds per new file.
std::string SummaryText(const JobCounters& counters, double seconds, double average, bool cancelled, bool dryRun);

// The command line's live progress line, at most columns - 3 characters
// (ASCII) long: the last column is left free so the terminal never wraps,
// and two more for the "^C" it echoes. Parts that do not fit are left out,
// the least useful first; the bar takes what room remains. seconds: since
// the run began; extractSeconds: since the walk ended (the rate and the
// time left are shown from then on).
std::string ProgressLineText(const JobCounters& counters, double seconds, double extractSeconds, int columns);

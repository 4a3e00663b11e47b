// The names of the temporary files that every whole-file write goes through
// (outputs, scaled copies, the settings file). One short fixed form,
// independent of the target's name, so that any legal target name leaves a
// legal temporary name beside it:  .vltr-<pid>-<n>.tmp
#pragma once

#include "platform/native_path.h"

// A new temporary path in the folder of `target` (the current folder when the
// target has no folder part). Unique within the process by a counter, and
// between processes by the process id.
NativePath TemporaryPathBeside(const NativePath& target);

// The id of the running process, as written into temporary names.
unsigned long CurrentProcessId();

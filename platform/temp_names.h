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

// The process id a name of exactly our form carries; false for any other
// name (".vltr-12-3.tmp" is ours; ".vltr-12-3.tmp.bak" or "a.vltr-1-1.tmp"
// are not).
bool ParseTemporaryName(const NativePath& name, unsigned long& pid);

// A temporary that a killed run left behind: regular files in `folder` whose
// name has exactly our form and that are older than kStaleTemporaryAge, or
// older than kOrphanGrace and named by a process that is gone. Nothing else
// is touched; errors are ignored. Returns the count removed.
int RemoveStaleTemporaries(const NativePath& folder);

// In-flight temporaries, known from creation to rename so that an abrupt exit
// (a second Ctrl-C) can remove them. Register before creating the file; the
// returned slot (-1 when the table is full) is released after the file is
// renamed or removed.
int RegisterTemporary(const NativePath& path);
void ReleaseTemporary(int slot);
// The creation of a temporary file (registering it and creating it) is
// bracketed by these. Begin is false once an abrupt exit has begun: then
// nothing may be created any more.
bool BeginCreatingTemporary();
void EndCreatingTemporary();
// For an abrupt exit: stops new temporaries, waits (briefly, bounded) for
// the creations under way, and removes every registered temporary. Nothing
// is created after it returns. Safe in a signal handler on POSIX systems
// (atomics, pauses and unlinks only).
void RemoveTemporariesInFlight();

// Process facts and the one file call that the above need from the system.
// The id of the running process, as written into temporary names.
unsigned long CurrentProcessId();
// False only when no process with that id exists now.
bool ProcessMayBeRunning(unsigned long pid);
// Removes a file by a null-terminated path; true when it was removed. Safe
// in a signal handler on POSIX systems.
bool RemoveFileNow(const NativeChar* path);
// Pauses the calling thread for about a millisecond. Safe in a signal handler
// on POSIX systems.
void PauseBriefly();

// Process facts on POSIX systems.
#include <unistd.h>

#include "platform/temp_names.h"

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

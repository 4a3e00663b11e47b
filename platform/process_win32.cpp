// Process facts on Windows.
#include <windows.h>

#include "platform/temp_names.h"

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

// The probe's own process id on Windows.
#include <windows.h>

#include "tools/probe/probe_process.h"

int ProbeProcessId() { return static_cast<int>(GetCurrentProcessId()); }

// The probe's own process id on POSIX systems.
#include <unistd.h>

#include "tools/probe/probe_process.h"

int ProbeProcessId() { return static_cast<int>(getpid()); }

#include "tools/rpc_service/service_output.h"

#include <cstdio>

#include <fcntl.h>
#include <io.h>

// Text mode would turn each line feed into CR LF.
void PrepareStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

#include "tools/rpc_service/service_output.h"

// Standard output already writes bytes unchanged.
void PrepareStandardOutput() {}

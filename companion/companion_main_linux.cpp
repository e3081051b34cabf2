// The companion's entry on Linux: companion <process id> <application id>.

#include <cstdio>
#include <cstdlib>

#include "companion/companion.h"
#include "companion/decimal_argument.h"

int main(int argc, char** argv) {
    if (argc < 3) return 0;
    char applicationId[kApplicationIdSize];
    std::snprintf(applicationId, sizeof applicationId, "%s", argv[2]);
    return RunCompanion(DecimalArgument(argv[1]), applicationId, "scripts/%s.lua");
}

// counter_child: a real process with one variable that its code refers to,
// for the tools that find a variable: by the code that uses it, and by the
// number it holds as it changes.
//
// Prints "counter ADDRESS VALUE" (hex address without prefix, decimal
// value), then "ready". Each line "step" on its standard input adds 1 to the
// counter and prints "counter ADDRESS VALUE" again; each line "add" adds 1
// and prints only "added", so that no copy of the new value is made for the
// printing (a 32-bit program passes it on the stack, where it stays). It
// exits with 0 when its standard input closes.
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Volatile, so every use of it is an instruction that refers to it.
volatile std::uint32_t counter = 1000;

void Report() {
    std::printf("counter %llx %u\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&counter)),
                static_cast<unsigned>(counter));
    std::fflush(stdout);
}

}  // namespace

int main() {
    Report();
    std::printf("ready\n");
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (std::strncmp(line, "step", 4) == 0) {
            counter = counter + 1;
            Report();
        } else if (std::strncmp(line, "add", 3) == 0) {
            counter = counter + 1;
            std::printf("added\n");
            std::fflush(stdout);
        }
    }
    return 0;
}

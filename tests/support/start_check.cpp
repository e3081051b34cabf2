// The smallest program of a Windows build: it prints one word and ends.
// `make test` runs it first to learn whether this machine can start the
// build's programs at all (a 32-bit one needs Wine's 32-bit part and a kernel
// that runs 32-bit code), and says why when it cannot. The word, not the exit
// code, is the proof: a Wine that cannot start the program may still exit
// with 0.

#include <cstdio>

int main() {
    std::puts("started");
    return 0;
}

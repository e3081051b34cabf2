// Runs a fuzz target once over inputs kept in the tree, without libFuzzer:
// every file named on the command line, and every file in a directory named
// there. The test build links each target with this file, so that the seeds
// and every regression input run as a test with the test build's sanitizers.
// A directory that does not exist holds nothing; no input at all is a
// failure, since then nothing was checked.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsIn(const fs::path& place) {
    std::vector<fs::path> inputs;
    std::error_code error;
    if (fs::is_directory(place, error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(place, error)) {
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        }
        std::sort(inputs.begin(), inputs.end());
    } else if (fs::is_regular_file(place, error)) {
        inputs.push_back(place);
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& input : InputsIn(argv[i])) {
            std::ifstream file(input, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            // A copy of exactly the input's size, so that a read past its end is caught.
            std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
            std::printf("replaying %s\n", input.string().c_str());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}

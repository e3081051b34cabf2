#include "tools/probe/candidate_file.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

const char* const kMagic = "corvane-probe candidates";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool WriteRecords(std::FILE* file, const CandidateSet& set) {
    for (std::size_t i = 0; i < set.Count(); ++i) {
        std::uint8_t address[8];
        for (int k = 0; k < 8; ++k) address[k] = static_cast<std::uint8_t>(set.addresses[i] >> (8 * k));
        if (std::fwrite(address, 1, 8, file) != 8) return false;
        if (set.valueSize != 0 && std::fwrite(set.Value(i), 1, set.valueSize, file) != set.valueSize) return false;
    }
    return true;
}

}  // namespace

bool SaveCandidates(const std::string& path, const CandidateSet& set, std::string& error) {
    const std::string temporary = path + ".new";
    {
        File file(std::fopen(temporary.c_str(), "wb"));
        if (!file) {
            error = "cannot write " + temporary;
            return false;
        }
        const bool written =
            std::fprintf(file.get(), "%s\npid %" PRIu32 "\ntype %s\nsize %zu\ncount %zu\n", kMagic, set.pid,
                         ValueTypeName(set.type), set.valueSize, set.Count()) > 0 &&
            WriteRecords(file.get(), set) && std::fflush(file.get()) == 0;
        if (!written || std::fclose(file.release()) != 0) {
            std::remove(temporary.c_str());
            error = "cannot write " + temporary;
            return false;
        }
    }
    std::error_code failure;
    std::filesystem::rename(temporary, path, failure);
    if (failure) {
        std::remove(temporary.c_str());
        error = "cannot replace " + path + ": " + failure.message();
        return false;
    }
    return true;
}

bool LoadCandidates(const std::string& path, CandidateSet& set, std::string& error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    char magic[32] = {};
    char type[16] = {};
    std::uint32_t pid = 0;
    std::size_t size = 0;
    std::size_t count = 0;
    error = path + " is not a candidate file of corvane-probe scan";
    if (std::fscanf(file.get(), "%31[^\n]\npid %" SCNu32 "\ntype %15s\nsize %zu\ncount %zu", magic, &pid, type, &size,
                    &count) != 5 ||
        std::string(magic) != kMagic || std::fgetc(file.get()) != '\n') {
        return false;
    }
    const std::optional<ValueType> parsed = ParseValueType(type);
    if (!parsed || size == 0 || size > 4096 || pid == 0) return false;
    // The records must fill the rest of the file exactly.
    std::error_code failure;
    const std::uintmax_t fileSize = std::filesystem::file_size(path, failure);
    const long headerEnd = std::ftell(file.get());
    if (failure || headerEnd < 0 || fileSize < static_cast<std::uintmax_t>(headerEnd) ||
        (fileSize - static_cast<std::uintmax_t>(headerEnd)) / (8 + size) != count ||
        (fileSize - static_cast<std::uintmax_t>(headerEnd)) % (8 + size) != 0) {
        return false;
    }
    set = CandidateSet{};
    set.pid = pid;
    set.type = *parsed;
    set.valueSize = size;
    set.addresses.resize(count);
    set.values.resize(count * size);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t address[8];
        if (std::fread(address, 1, 8, file.get()) != 8 ||
            std::fread(set.values.data() + i * size, 1, size, file.get()) != size) {
            return false;
        }
        std::uint64_t value = 0;
        for (int k = 0; k < 8; ++k) value |= static_cast<std::uint64_t>(address[k]) << (8 * k);
        if (i > 0 && value <= set.addresses[i - 1]) return false;
        set.addresses[i] = value;
    }
    error.clear();
    return true;
}

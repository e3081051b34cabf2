#pragma once
// The narrow view of another process's memory that reads and scans run over.
// Each OS backend implements it for a real process; tests implement it with a
// fake to produce what a real process cannot do on demand (partial copies,
// failed queries).

#include <cstddef>
#include <cstdint>

namespace detail {

// The run of pages that holds an address, as the OS reports it.
struct MemoryRegion {
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    bool readable = false;    // committed, and neither no-access nor guarded
    bool executable = false;  // a code region that scans with the executable-only flag visit
    bool writable = false;    // the process can write it: where a program keeps its variables
};

enum class ReadStatus {
    Copied,       // the call succeeded; `bytesRead` says how many bytes arrived
    Failed,       // the call failed for a reason other than a partial copy
    PartialCopy,  // the call failed because only part of the range could be copied
};

struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    std::uint64_t bytesRead = 0;
};

// A run of bytes to read and where they go, for ReadRanges.
struct ReadRange {
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    std::uint8_t* buffer = nullptr;
};

// The addresses where the process can have memory: [lowest, end).
struct AddressRange {
    std::uint64_t lowest = 0;
    std::uint64_t end = 0;
};

class AddressSpace {
public:
    virtual ~AddressSpace() = default;

    // False when the OS cannot describe the memory at `address`. On success
    // the region holds the address: base <= address < base + size.
    virtual bool QueryRegion(std::uint64_t address, MemoryRegion& region) = 0;

    // One read call of the OS, without any region test.
    virtual ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) = 0;

    // How many ranges one ReadRanges call may take: 1 where the OS reads one
    // range per call, and ReadRanges is then never called.
    virtual std::size_t RangesPerRead() const { return 1; }

    // Reads the ranges in order, each into its buffer, with as few OS calls
    // as it can, without any region test, and says how many of them, from the
    // first, arrived whole. One that did not is no error: the caller reads it
    // again on its own with Read, which says why.
    virtual std::size_t ReadRanges(const ReadRange* /*ranges*/, std::size_t /*count*/) { return 0; }

    virtual AddressRange ApplicationRange() = 0;

    // A search, which queries many regions in a row, begins and ends. In
    // between, a backend whose queries are costly may answer them from one
    // description of the memory taken at the first query, as long as its
    // reads succeed.
    virtual void BeginSearch() {}
    virtual void EndSearch() {}
};

// Holds the address space in its search mode for as long as it lives.
class SearchScope {
public:
    explicit SearchScope(AddressSpace& space) : space_(space) { space_.BeginSearch(); }
    SearchScope(const SearchScope&) = delete;
    SearchScope& operator=(const SearchScope&) = delete;
    ~SearchScope() { space_.EndSearch(); }

private:
    AddressSpace& space_;
};

}  // namespace detail

#pragma once
// A real target_child whose memory a test lays out (see target_child.cpp),
// opened as a target, with the calls the target tests make on it.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/target_child_client.h"
#include "target/target_process.h"

constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kWholeRange = ~std::uint64_t{0};

inline BytePattern Pattern(std::vector<std::uint8_t> bytes, std::vector<std::uint8_t> mask) {
    return BytePattern{std::move(bytes), std::move(mask)};
}

// Sixteen random bytes, all of them to match: a pattern that occurs in the
// child only where a test puts it.
inline BytePattern RandomMarker() {
    std::random_device random;
    BytePattern marker;
    for (int i = 0; i < 16; ++i) {
        marker.bytes.push_back(static_cast<std::uint8_t>(random()));
        marker.mask.push_back(1);
    }
    return marker;
}

inline std::string HexText(const std::vector<std::uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

class TargetProcessTest : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& arguments) {
        ASSERT_TRUE(StartTargetChild(arguments, child_)) << child_.error;
        ASSERT_EQ(child_.pageSize, kPage);
        target_ = OpenTarget(child_.process.Pid());
        ASSERT_NE(target_, nullptr);
    }

    std::uint64_t Block(std::size_t index) const { return child_.blocks.at(index).address; }

    bool Read(std::uint64_t address, std::vector<std::uint8_t>& bytes, std::uint64_t size) {
        bytes.assign(static_cast<std::size_t>(size), 0xCC);
        return ReadTargetMemory(*target_, address, bytes.data(), size);
    }

    bool Find(const BytePattern& pattern, std::uint64_t start, std::uint64_t end, bool executableOnly,
              std::uint64_t& match) {
        return FindPattern(*target_, pattern, start, end, executableOnly, match);
    }

    TargetChild child_;
    std::unique_ptr<TargetProcess> target_;  // closed before the child ends
};

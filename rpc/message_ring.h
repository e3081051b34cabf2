#pragma once
// A fixed ring of 8 entries used in place, shared between one producer side
// and one consumer. Reserve/commit on the producer side, take/release on the
// consumer side; the indices and the pending count are atomic. Producers that
// can run on several threads must serialize reserve..commit themselves.

#include <atomic>
#include <cstdint>

template <typename Entry>
class MessageRing {
public:
    static constexpr std::uint32_t kCapacity = 8;

    // The next free entry, or null when all 8 are pending.
    Entry* Reserve() {
        if (pendingCount_.load() >= kCapacity) return nullptr;
        std::uint32_t index = addIndex_.fetch_add(1);
        return &entries_[index % kCapacity];
    }
    void Commit() { pendingCount_.fetch_add(1); }

    bool HasPending() const { return pendingCount_.load() != 0; }
    std::uint32_t PendingCount() const { return pendingCount_.load(); }

    // The oldest committed entry; call only while HasPending().
    Entry* Take() {
        std::uint32_t index = sendIndex_.fetch_add(1);
        return &entries_[index % kCapacity];
    }
    void Release() { pendingCount_.fetch_sub(1); }

private:
    Entry entries_[kCapacity] = {};
    std::atomic<std::uint32_t> addIndex_{0};
    std::atomic<std::uint32_t> sendIndex_{0};
    std::atomic<std::uint32_t> pendingCount_{0};
};

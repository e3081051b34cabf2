#pragma once
// A bump allocator over a 2048-byte buffer held inside the object. It serves
// as the stack allocator of RapidJSON's writer and parser: each stack is
// created with a capacity of 2048 bytes, takes the whole buffer at once and
// can never grow, so building or parsing a message never touches the heap.

#include <cstddef>
#include <cstring>

class FixedBumpAllocator {
public:
    static const bool kNeedFree = false;
    static constexpr std::size_t kCapacity = 2048;

    FixedBumpAllocator() : current_(buffer_), end_(buffer_ + kCapacity) {}
    FixedBumpAllocator(const FixedBumpAllocator&) = delete;
    FixedBumpAllocator& operator=(const FixedBumpAllocator&) = delete;

    // The next `size` bytes, unaligned, or null once they do not fit.
    void* Malloc(std::size_t size) {
        if (size == 0 || size > static_cast<std::size_t>(end_ - current_)) return nullptr;
        void* block = current_;
        current_ += size;
        return block;
    }

    // Served only from what is left of the buffer; the old content is carried over.
    void* Realloc(void* original, std::size_t originalSize, std::size_t newSize) {
        if (original == nullptr) return Malloc(newSize);
        if (newSize <= originalSize) return original;
        void* block = Malloc(newSize);
        if (block != nullptr) std::memcpy(block, original, originalSize);
        return block;
    }

    static void Free(void*) {}

    // Hands the whole buffer out again. Only for a user whose stack has
    // released everything it took (a parse that has finished).
    void Reset() { current_ = buffer_; }

private:
    char* current_;
    char* end_;
    char buffer_[kCapacity];
};

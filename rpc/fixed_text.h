#pragma once
// Copying a text into a fixed array of the client's records: the text up to
// its first NUL byte or size - 1 bytes, whichever comes first, then a NUL
// byte. Longer texts are cut without notice.

#include <cstddef>
#include <cstring>

namespace detail {

// A null source stores the empty text; a size of 0 stores nothing.
inline void CopyFixedText(char* destination, std::size_t size, const char* source) {
    if (size == 0) return;
    std::size_t length = 0;
    if (source != nullptr) {
        while (length < size - 1 && source[length] != '\0') ++length;
        std::memcpy(destination, source, length);
    }
    destination[length] = '\0';
}

template <std::size_t size>
void CopyFixedText(char (&destination)[size], const char* source) {
    CopyFixedText(destination, size, source);
}

}  // namespace detail

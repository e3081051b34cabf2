#pragma once
// What an application id may hold. The id names the game's script,
// "scripts/<id>.lua" below the companion directory, so it must not be able
// to name a file anywhere else: it holds no path separator of either kind of
// system and no drive colon, and it is not "..", the one path component left
// once separators are refused. Ids are decimal digits in practice. The addon
// applies the same rule before it asks for a script or starts a companion.

#include <cstring>

inline bool IsPlainApplicationId(const char* applicationId) {
    return std::strpbrk(applicationId, "/\\:") == nullptr && std::strcmp(applicationId, "..") != 0;
}

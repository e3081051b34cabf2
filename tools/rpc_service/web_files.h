#pragma once
// The page's static files (tools/rpc_service/web/), embedded into the
// program at build time so the service needs nothing beside it.

#include <cstddef>
#include <string>

struct WebFile {
    const char* path;          // "/card.js"
    const char* contentType;   // "text/javascript; charset=utf-8"
    const unsigned char* data;
    std::size_t size;
};

// The file served at `path`, or null.
const WebFile* FindWebFile(const std::string& path);

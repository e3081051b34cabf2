#include "tools/rpc_service/service_json.h"

#include <cstdio>

#include "companion/utf8_sequence.h"

namespace service_json {
namespace {

// A cursor over the text; every step fails softly at the end.
struct Cursor {
    const std::string& text;
    std::size_t at = 0;

    bool AtEnd() const { return at >= text.size(); }
    char Peek() const { return AtEnd() ? '\0' : text[at]; }
    void SkipSpace() {
        while (!AtEnd() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
    }
    bool Take(char expected) {
        SkipSpace();
        if (Peek() != expected) return false;
        ++at;
        return true;
    }
};

// Reads a string at the cursor, decoding its escapes (a surrogate half is
// kept as its own three bytes; the service only prints and compares).
bool ReadString(Cursor& c, std::string& out) {
    if (!c.Take('"')) return false;
    out.clear();
    while (!c.AtEnd()) {
        char ch = c.text[c.at++];
        if (ch == '"') return true;
        if (ch != '\\') {
            out += ch;
            continue;
        }
        if (c.AtEnd()) return false;
        char escape = c.text[c.at++];
        switch (escape) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            if (c.at + 4 > c.text.size()) return false;
            unsigned codepoint = 0;
            if (std::sscanf(c.text.substr(c.at, 4).c_str(), "%4x", &codepoint) != 1) return false;
            c.at += 4;
            AppendUtf8(out, codepoint);
            break;
        }
        default: out += escape; break;
        }
    }
    return false;
}

// Steps over one value of any kind, strings and nesting included.
bool SkipValue(Cursor& c) {
    c.SkipSpace();
    if (c.Peek() == '"') {
        std::string ignored;
        return ReadString(c, ignored);
    }
    int depth = 0;
    while (!c.AtEnd()) {
        char ch = c.Peek();
        if (ch == '"') {
            std::string ignored;
            if (!ReadString(c, ignored)) return false;
            continue;
        }
        if (depth == 0 && (ch == ',' || ch == '}' || ch == ']')) return true;
        if (ch == '{' || ch == '[') ++depth;
        if (ch == '}' || ch == ']') --depth;
        ++c.at;
    }
    return depth == 0;
}

}  // namespace

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char ch : text) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", ch);
            out += escaped;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

bool TopLevelString(const std::string& json, const std::string& key, std::string& value) {
    Cursor c{json};
    if (!c.Take('{')) return false;
    if (c.Take('}')) return false;
    do {
        std::string name;
        if (!ReadString(c, name) || !c.Take(':')) return false;
        c.SkipSpace();
        if (name == key) return c.Peek() == '"' && ReadString(c, value);
        if (!SkipValue(c)) return false;
    } while (c.Take(','));
    return false;
}

}  // namespace service_json

#include "support/target_child_client.h"

#include <cstdlib>
#include <sstream>

namespace {

std::uint64_t Hex(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 16);
}

bool ParseModule(std::istringstream& fields, ChildModule& module) {
    std::string base, inside;
    fields >> base >> inside >> std::ws;
    std::getline(fields, module.name);
    module.base = Hex(base);
    module.inside = Hex(inside);
    return !module.name.empty();
}

}  // namespace

std::string TargetChildPath() { return TARGET_CHILD_PATH; }

bool StartTargetChild(const std::vector<std::string>& blocks, TargetChild& child) {
    return StartTargetChild(TargetChildPath(), blocks, child);
}

bool StartTargetChild(const std::string& program, const std::vector<std::string>& blocks, TargetChild& child) {
    if (!child.process.Start(program, blocks)) {
        child.error = "cannot start " + program;
        return false;
    }
    std::string line;
    while (child.process.ReadLine(line)) {
        std::istringstream fields(line);
        std::string word;
        fields >> word;
        if (word == "ready") return true;
        if (word == "page") {
            fields >> word;
            child.pageSize = Hex(word);
        } else if (word == "module") {
            fields >> word;
            if (!ParseModule(fields, word == "exe" ? child.executable : child.library)) break;
        } else if (word == "block") {
            std::string index, address, size;
            fields >> index >> address >> size;
            child.blocks.push_back(ChildBlock{Hex(address), Hex(size)});
        } else if (word == "stack") {
            fields >> word;
            child.stack = Hex(word);
        } else if (word == "global") {
            fields >> word;
            child.zeroInitialisedGlobal = Hex(word);
        } else {
            child.error = line;
            return false;
        }
    }
    if (child.error.empty()) child.error = "target_child ended before it was ready: " + line;
    return false;
}

#include "tools/probe/module_map.h"

#include "tools/probe/command_support.h"

ModuleMap::ModuleMap(TargetProcess& target) {
    ListModules(target, [this](const ModuleEntry& module) { modules_.push_back(module); });
}

std::string ModuleMap::Describe(std::uint64_t address) const {
    const ModuleEntry* holder = nullptr;
    for (const ModuleEntry& module : modules_) {
        const bool holds = address >= module.base && address - module.base < module.size;
        if (holds && (holder == nullptr || module.base > holder->base)) holder = &module;
    }
    if (holder == nullptr) return "";
    return holder->name + "+" + HexAddress(address - holder->base);
}

#pragma once
// Where an address lies among the target's modules, told as a script author
// would write it down: the module's name, as GetModuleInfo accepts it, plus
// the offset from its base ("game.exe+0x1a2b3c").

#include <cstdint>
#include <string>
#include <vector>

#include "target/target_listing.h"

class ModuleMap {
public:
    // Lists the target's modules once; a target whose modules cannot be
    // listed gives an empty map.
    explicit ModuleMap(TargetProcess& target);

    // "name+0xOFFSET", or "" when no module holds the address. Where module
    // ranges overlap, the module with the highest base below the address wins.
    std::string Describe(std::uint64_t address) const;

private:
    std::vector<ModuleEntry> modules_;
};

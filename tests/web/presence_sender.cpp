// presence_sender APPLICATION_ID: a real client of the RPC service, through
// the project's own client, that publishes the presences its standard input
// describes. The browser test steers it, so that every card it checks comes
// from a known presence.
//
// One command per line:
//   FIELD VALUE   set a field of the presence being built (a RichPresence
//                 member name: state, details, startTime, partyCount, ...);
//                 the value is the rest of the line, taken as it stands
//   send          publish the presence built so far
//   clear         clear the presence
//   reset         forget every field set so far
// The end of the input shuts the client down and ends the program.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "rpc/presence_client.h"

namespace {

// The presence's numbers by name; its texts are the record's text fields,
// kept in `texts` for as long as the presence points to them.
struct NumberField {
    const char* name;
    void (*set)(RichPresence& presence, long long value);
};
const NumberField kNumberFields[] = {
    {"startTime", [](RichPresence& p, long long v) { p.startTime = v; }},
    {"endTime", [](RichPresence& p, long long v) { p.endTime = v; }},
    {"partyCount", [](RichPresence& p, long long v) { p.partyCount = static_cast<std::int32_t>(v); }},
    {"partyCapacity", [](RichPresence& p, long long v) { p.partyCapacity = static_cast<std::int32_t>(v); }},
    {"instance", [](RichPresence& p, long long v) { p.instance = static_cast<std::int8_t>(v); }},
};

struct PresenceDraft {
    RichPresence presence;
    std::map<std::string, std::string> texts;

    // False when no field has this name.
    bool Set(const std::string& name, const std::string& value) {
        for (const RichPresenceTextField& field : kRichPresenceTextFields) {
            if (name != field.name) continue;
            presence.*field.member = (texts[name] = value).c_str();
            return true;
        }
        for (const NumberField& field : kNumberFields) {
            if (name != field.name) continue;
            field.set(presence, std::strtoll(value.c_str(), nullptr, 10));
            return true;
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: presence_sender APPLICATION_ID\n");
        return 2;
    }
    EventHandlers handlers{};
    rpc_initialize(argv[1], &handlers, 0, nullptr);

    PresenceDraft draft;
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (command == "send") {
            rpc_update_presence(&draft.presence);
        } else if (command == "clear") {
            rpc_clear_presence();
        } else if (command == "reset") {
            draft = PresenceDraft();
        } else if (!draft.Set(command, value)) {
            std::fprintf(stderr, "presence_sender: unknown command: %s\n", command.c_str());
            rpc_shutdown();
            return 2;
        }
    }
    rpc_shutdown();
    return 0;
}

#include "tools/probe/probe_report.h"

#include <cinttypes>
#include <cstdio>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "tools/probe/utf8_text.h"

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const char* Plural(std::uint64_t count, const char* one, const char* many) { return count == 1 ? one : many; }

// "12.345 ms; Read 1 call, 40 bytes; Find 1 call, 4194304 bytes scanned; GetModuleInfo 0 calls"
std::string CostText(const ScriptCost& cost) {
    const MemoryCounters& c = cost.counters;
    char text[256];
    std::snprintf(text, sizeof text,
                  "%.3f ms; Read %" PRIu64 " %s, %" PRIu64 " %s; Find %" PRIu64 " %s, %" PRIu64
                  " %s scanned; GetModuleInfo %" PRIu64 " %s",
                  cost.milliseconds, c.readCalls, Plural(c.readCalls, "call", "calls"), c.bytesRead,
                  Plural(c.bytesRead, "byte", "bytes"), c.findCalls, Plural(c.findCalls, "call", "calls"),
                  c.bytesScanned, Plural(c.bytesScanned, "byte", "bytes"), c.moduleLookups,
                  Plural(c.moduleLookups, "call", "calls"));
    return text;
}

// Texts go out as valid UTF-8 whatever bytes they hold, so that every line
// stays JSON an editor can parse.
void Member(JsonWriter& json, const char* key, const std::string& text) {
    const std::string valid = ValidUtf8(text);
    json.Key(key);
    json.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void Member(JsonWriter& json, const char* key, std::uint64_t value) {
    json.Key(key);
    json.Uint64(value);
}

void CostMembers(JsonWriter& json, const ScriptCost& cost) {
    json.Key("ms");
    json.Double(cost.milliseconds);
    Member(json, "read_calls", cost.counters.readCalls);
    Member(json, "bytes_read", cost.counters.bytesRead);
    Member(json, "find_calls", cost.counters.findCalls);
    Member(json, "bytes_scanned", cost.counters.bytesScanned);
    Member(json, "module_lookups", cost.counters.moduleLookups);
}

// One JSON object on a line of its own, its members written by `members`.
template <typename WriteMembers>
void PrintJsonObject(WriteMembers members) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    members(writer);
    writer.EndObject();
    PrintLine(std::string(buffer.GetString(), buffer.GetSize()));
}

}  // namespace

void PrintTarget(const TargetReport& report, bool json) {
    if (!json) {
        PrintLine(report.line + "; the launcher starts the " + report.companion +
                  " companion for it; scripts here see Architecture \"" + report.architecture + "\"");
        return;
    }
    PrintJsonObject([&report](JsonWriter& writer) {
        Member(writer, "pid", std::uint64_t{report.pid});
        Member(writer, "name", report.name);
        writer.Key("bits");
        if (report.bitness == Bitness::Unknown) {
            writer.Null();
        } else {
            writer.Uint(report.bitness == Bitness::Bits64 ? 64 : 32);
        }
        Member(writer, "companion", std::string(report.companion));
        Member(writer, "architecture", std::string(report.architecture));
    });
}

void PrintLoad(const LoadReport& report, bool json) {
    if (!json) {
        if (report.loaded) {
            PrintLine("loaded " + report.script + " in " + CostText(report.cost));
        } else {
            PrintLine("failed to load " + report.script + ":");
            PrintLine(report.error);
        }
        return;
    }
    PrintJsonObject([&report](JsonWriter& writer) {
        Member(writer, "script", report.script);
        writer.Key("loaded");
        writer.Bool(report.loaded);
        if (report.loaded) {
            CostMembers(writer, report.cost);
        } else {
            Member(writer, "error", report.error);
        }
    });
}

void PrintPoll(const PollReport& report, bool json) {
    if (!json) {
        PrintLine("poll " + std::to_string(report.number) + (report.published ? " published" : " cleared") +
                  " in " + CostText(report.cost));
        if (!report.published) PrintLine(report.reason);
        PrintLine(report.request);
        return;
    }
    PrintJsonObject([&report](JsonWriter& writer) {
        Member(writer, "poll", report.number);
        writer.Key("published");
        writer.Bool(report.published);
        if (!report.published) Member(writer, "reason", report.reason);
        CostMembers(writer, report.cost);
        Member(writer, "request", report.request);
    });
}

void PrintGameEnded(bool json) { PrintLine(json ? "{\"game_ended\":true}" : "the game has ended"); }

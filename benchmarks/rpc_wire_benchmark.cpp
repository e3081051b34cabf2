// The RPC wire layer's per-message costs: building a full presence request,
// and parsing incoming messages (typical, largest, and one refused for the
// parse stack) into a MessageDocument, beside a plain RapidJSON in-situ parse
// of the same text (heap allocators, growing stack). The counter
// "heap_chunks" is the pool chunks a parse took from the heap (0 means the
// message fitted the document's inline 32 KiB chunk).

#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include "rpc/message_document.h"
#include "rpc/serialization.h"

namespace {

const char* const kJoinRequest =
    R"({"cmd":"DISPATCH","data":{"user":{"id":"53908232506183680","username":"Mason","discriminator":"1337",)"
    R"("avatar":"a_bab14f271d565501444b2ca3be944b25"}},"evt":"ACTIVITY_JOIN_REQUEST","nonce":null})";

// Near the largest frame: 60 members of about 1 KiB each, within the parse stack.
std::string LargestMessage() {
    std::string text = "{";
    for (int i = 0; i < 60; ++i) text += "\"m" + std::to_string(i) + "\":\"" + std::string(1060, 'v') + "\",";
    text.back() = '}';
    return text;
}

// As large, but one array of 1600 small objects: more values than the parse
// stack holds, so the check before parsing refuses it.
std::string RefusedMessage() {
    std::string text = R"({"cmd":"DISPATCH","evt":"X","data":[)";
    while (text.size() < 65000) text += R"({"k":"vvvvvvvvvvvvvvvvvvvvvvvv","n":12345},)";
    text.back() = ']';
    return text + "}";
}

void BM_BuildSetActivity(benchmark::State& state) {
    RichPresence presence;
    presence.state = "In a match";
    presence.details = "Ranked, 3 of 5";
    presence.startTime = 1507665886;
    presence.largeImageKey = "map_canyon";
    presence.largeImageText = "Canyon \"Dusk\"";
    presence.smallImageKey = "class_rogue";
    presence.partyId = "ae488379-351d-4a4f-ad32-2b9b01c91657";
    presence.partyCount = 3;
    presence.partyCapacity = 5;
    presence.joinSecret = "MTI4NzM0OjFpMmhuZToxMjMxMjM=";
    char buffer[16384];
    std::size_t length = 0;
    for (auto _ : state) {
        length = build_set_activity(buffer, sizeof buffer, 1, 4242, &presence);
        benchmark::DoNotOptimize(buffer);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}

void ParseInMessageDocument(benchmark::State& state, const std::string& text) {
    std::vector<char> buffer(text.size() + 1);
    double heapChunks = 0;
    for (auto _ : state) {
        std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
        MessageDocument document;
        bool parsed = document.ParseInPlace(buffer.data(), text.size());
        benchmark::DoNotOptimize(parsed);
        heapChunks = document.GetAllocator().Capacity() > detail::MessageDocumentStorage::kPoolChunkSize ? 1 : 0;
    }
    state.counters["heap_chunks"] = heapChunks;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void ParseInPlainDocument(benchmark::State& state, const std::string& text) {
    std::vector<char> buffer(text.size() + 1);
    for (auto _ : state) {
        std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
        rapidjson::Document document;
        document.ParseInsitu(buffer.data());
        benchmark::DoNotOptimize(document.HasParseError());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_ParseTypical_MessageDocument(benchmark::State& state) { ParseInMessageDocument(state, kJoinRequest); }
void BM_ParseTypical_PlainRapidJson(benchmark::State& state) { ParseInPlainDocument(state, kJoinRequest); }
void BM_ParseLargest_MessageDocument(benchmark::State& state) { ParseInMessageDocument(state, LargestMessage()); }
void BM_ParseLargest_PlainRapidJson(benchmark::State& state) { ParseInPlainDocument(state, LargestMessage()); }
void BM_ParseRefused_MessageDocument(benchmark::State& state) { ParseInMessageDocument(state, RefusedMessage()); }
void BM_ParseRefused_PlainRapidJson(benchmark::State& state) { ParseInPlainDocument(state, RefusedMessage()); }

BENCHMARK(BM_BuildSetActivity);
BENCHMARK(BM_ParseTypical_MessageDocument);
BENCHMARK(BM_ParseTypical_PlainRapidJson);
BENCHMARK(BM_ParseLargest_MessageDocument);
BENCHMARK(BM_ParseLargest_PlainRapidJson);
BENCHMARK(BM_ParseRefused_MessageDocument);
BENCHMARK(BM_ParseRefused_PlainRapidJson);

}  // namespace

BENCHMARK_MAIN();

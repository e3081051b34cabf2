#include "tools/rpc_service/presence_board.h"

#include <algorithm>
#include <chrono>

#include "tools/rpc_service/service_json.h"

int PresenceBoard::Begin(const std::string& applicationId) {
    std::lock_guard<std::mutex> hold(lock_);
    while (cards_.size() >= kMostCards) {
        auto ended = std::find_if(cards_.begin(), cards_.end(), [](const Card& card) { return !card.connected; });
        if (ended == cards_.end()) break;
        cards_.erase(ended);
    }
    Card card;
    card.id = nextId_;
    card.application = applicationId;
    cards_.push_back(card);
    Changed();
    return nextId_++;
}

void PresenceBoard::Update(int client, const std::string& request) {
    std::lock_guard<std::mutex> hold(lock_);
    Card* card = Find(client);
    if (card == nullptr) return;
    card->hasRequest = true;
    card->request = request;
    ++card->requests;
    Changed();
}

void PresenceBoard::End(int client) {
    std::lock_guard<std::mutex> hold(lock_);
    Card* card = Find(client);
    if (card == nullptr) return;
    card->connected = false;
    Changed();
}

std::string PresenceBoard::Snapshot(std::uint64_t& version) const {
    std::lock_guard<std::mutex> hold(lock_);
    std::string json = std::string("{\"assets\":") + (assetsServed_ ? "true" : "false") + ",\"clients\":[";
    for (const Card& card : cards_) {
        if (json.back() == '}') json += ',';
        json += "{\"id\":" + std::to_string(card.id) + ",\"application\":" + service_json::Quote(card.application) +
                ",\"connected\":" + (card.connected ? "true" : "false") +
                ",\"requests\":" + std::to_string(card.requests) +
                ",\"request\":" + (card.hasRequest ? service_json::Quote(card.request) : "null") + "}";
    }
    version = version_;
    return json + "]}";
}

bool PresenceBoard::WaitForChange(std::uint64_t seen, int timeoutMs) const {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return closed_ || version_ != seen; });
    return !closed_ || version_ != seen;
}

void PresenceBoard::Close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    changed_.notify_all();
}

PresenceBoard::Card* PresenceBoard::Find(int client) {
    for (Card& card : cards_) {
        if (card.id == client) return &card;
    }
    return nullptr;
}

void PresenceBoard::Changed() {
    ++version_;
    changed_.notify_all();
}

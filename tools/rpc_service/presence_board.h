#pragma once
// What the web page shows: for each client the service has served lately,
// its application id, whether it is still connected and the last presence
// request it sent, byte for byte. The pipe's session writes to the board;
// the page's event streams wait on it and read it as one JSON snapshot.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class PresenceBoard {
public:
    // `assetsServed`: the page may ask the service for "<key>.png".
    explicit PresenceBoard(bool assetsServed) : assetsServed_(assetsServed) {}

    // A client has sent its handshake; returns the number its card carries.
    int Begin(const std::string& applicationId);
    // The client sent a presence request (set or clear): the card shows it.
    void Update(int client, const std::string& request);
    // The client's connection has ended: its card stays, greyed.
    void End(int client);

    // The whole board as JSON:
    //   {"assets":BOOL,"clients":[{"id":N,"application":TEXT,"connected":BOOL,
    //    "requests":N,"request":TEXT or null},...]}
    // "request" is the last presence request's payload as a JSON string, the
    // oldest card first. `version` is the board's version it shows.
    std::string Snapshot(std::uint64_t& version) const;
    // Waits up to `timeoutMs` for a version other than `seen`. False once the
    // board is closed and `seen` is its last version, so that a stream still
    // gets the change that came just before the end.
    bool WaitForChange(std::uint64_t seen, int timeoutMs) const;
    // Wakes every waiter for good: the service is ending.
    void Close();

private:
    struct Card {
        int id = 0;
        std::string application;
        bool connected = true;
        int requests = 0;
        bool hasRequest = false;
        std::string request;
    };
    // Ended clients beyond this many cards give way, the oldest first.
    static constexpr std::size_t kMostCards = 8;

    Card* Find(int client);
    void Changed();

    const bool assetsServed_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::deque<Card> cards_;
    int nextId_ = 1;
    std::uint64_t version_ = 0;
    bool closed_ = false;
};

#pragma once
// The service's end of the RPC pipe: listens on one of the ten names
// "corvane-ipc-0" to "corvane-ipc-9" (a named pipe on Windows, a Unix stream
// socket in the runtime directory elsewhere), serves one client at a time and
// moves bytes with blocking calls. Used by the reference service and by tests
// that play the service; it shares no code with the client.

#include <cstddef>
#include <cstdint>
#include <string>

enum class PipeRead { Done, TimedOut, Gone };

class ServicePipe {
public:
    ServicePipe() = default;
    ServicePipe(const ServicePipe&) = delete;
    ServicePipe& operator=(const ServicePipe&) = delete;
    ~ServicePipe() { Stop(); }

    // Listens on the name with this digit (0 to 9), or with a negative digit
    // on the first of the ten that no other service holds. On failure `error`
    // says why.
    bool Listen(int digit, std::string& error);
    // The full name listened on: the pipe name or the socket path.
    const std::string& Name() const { return name_; }

    // Waits up to `timeoutMs` (negative: without limit) for the next client.
    bool Accept(int timeoutMs = -1);
    bool HasClient() const;
    // Waits up to `timeoutMs` (negative: without limit) until `count` bytes
    // have been read. Bytes read before a time-out are consumed.
    PipeRead ReadExact(void* destination, std::size_t count, int timeoutMs = -1);
    // True when the client took every byte.
    bool WriteAll(const void* source, std::size_t count);
    // Ends the connection with the current client. What was written to it
    // stays readable for the client until it has read it or gone.
    void Disconnect();
    // Stops listening and frees the name.
    void Stop();

private:
    std::string name_;
    std::intptr_t listener_ = -1;  // the socket listened on, or the pipe instance waiting for a client
    std::intptr_t client_ = -1;    // the connection with the current client
    std::intptr_t claim_ = -1;     // where the name needs one: the lock that holds it
};

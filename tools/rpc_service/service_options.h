#pragma once
// The reference service's command line.

#include <string>
#include <vector>

struct ServiceOptions {
    int pipeDigit = -1;            // -1: the first free of the ten names
    int readyDelayMs = 0;
    bool sendReady = true;
    bool sendPing = false;
    std::string pingPayload;
    int floodPingBytes = -1;       // after READY: pings of this size without pause, nothing read; -1: none
    std::vector<std::string> messagesAfterReady;  // Message frames, in command-line order
    bool answerWithError = false;
    int errorCode = 0;
    std::string errorMessage;
    int closeAfter = -1;           // requests before a Close frame; -1: never
    int closeCode = 0;
    std::string closeMessage;
    int hangupAfter = -1;          // requests before the pipe is closed silently; -1: never
    int stallAfter = -1;           // requests before the service stops reading for a while; -1: never
    int stallMs = 0;
    int clients = -1;              // clients to serve before exiting; -1: no limit
    int webPort = -1;              // the web page's port on 127.0.0.1; 0: any free one; -1: no page
    std::string assetsDir;         // where the page finds "<key>.png"; empty: placeholders only
    bool help = false;
};

extern const char* const kServiceUsage;

// False with `error` set when the command line cannot be understood.
bool ParseServiceOptions(int argc, char** argv, ServiceOptions& options, std::string& error);

#pragma once
// The service's web page: one page on 127.0.0.1 that shows the presence
// board as cards, updated live through a Server-Sent Events stream.
// Only the Linux build serves it; elsewhere Start says why not.

#include <memory>
#include <string>

#include "tools/rpc_service/presence_board.h"

struct WebPageOptions {
    int port = 0;             // 0: any free port
    std::string assetsDir;    // empty: image keys are shown as placeholders
};

class WebPage {
public:
    explicit WebPage(PresenceBoard& board);
    ~WebPage();
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    // Binds 127.0.0.1 and serves from a thread of its own. On success `port`
    // is the port bound; on failure `error` says why.
    bool Start(const WebPageOptions& options, int& port, std::string& error);
    // Ends every event stream and stops serving.
    void Stop();

private:
    struct Server;
    PresenceBoard& board_;
    std::unique_ptr<Server> server_;
};

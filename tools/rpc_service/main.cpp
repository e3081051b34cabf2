// rpc_service: a reference local RPC service for development and tests.
// See --help for the options and the output.

#include <cstdio>
#include <string>

#include "tools/rpc_service/presence_board.h"
#include "tools/rpc_service/service_options.h"
#include "tools/rpc_service/service_output.h"
#include "tools/rpc_service/service_pipe.h"
#include "tools/rpc_service/service_session.h"
#include "tools/rpc_service/web_page.h"

int main(int argc, char** argv) {
    PrepareStandardOutput();
    ServiceOptions options;
    std::string error;
    if (!ParseServiceOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "rpc_service: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kServiceUsage, stdout);
        return 0;
    }

    // The page's address comes first, so that whoever started the service
    // can read it before any client line.
    PresenceBoard board(!options.assetsDir.empty());
    WebPage page(board);
    const bool showsPage = options.webPort >= 0;
    if (showsPage) {
        int port = 0;
        if (!page.Start(WebPageOptions{options.webPort, options.assetsDir}, port, error)) {
            std::fprintf(stderr, "rpc_service: --web: %s\n", error.c_str());
            return 1;
        }
        PrintLine("web http://127.0.0.1:" + std::to_string(port) + "/");
    }

    ServicePipe pipe;
    if (!pipe.Listen(options.pipeDigit, error)) {
        std::fprintf(stderr, "rpc_service: cannot listen: %s\n", error.c_str());
        return 1;
    }
    PrintLine("listening " + pipe.Name());
    for (int served = 0; options.clients < 0 || served < options.clients; ++served) {
        if (!pipe.Accept()) {
            std::fprintf(stderr, "rpc_service: cannot take the next client\n");
            return 1;
        }
        PrintLine("connected");
        ServeClient(pipe, options, showsPage ? &board : nullptr);
        pipe.Disconnect();
        PrintLine("disconnected");
    }
    return 0;
}

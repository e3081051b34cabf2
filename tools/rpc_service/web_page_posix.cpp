// The web page served with cpp-httplib: the embedded static files, the
// board's event stream and, with an assets folder, the images by key.

#include "tools/rpc_service/web_page.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include <httplib.h>
#include <sys/socket.h>

#include "tools/rpc_service/web_files.h"

namespace {

const char* const kLoopback = "127.0.0.1";
// Keep-alive comments keep an idle stream open and notice a browser that went.
constexpr int kStreamIdleMs = 3000;
// Each open event stream holds one of the server's threads (at least 8) for
// as long as it lasts; beyond this many, pages are refused so that the
// files and the streams already open are still served.
constexpr int kMostStreams = 4;

// Every text on the page comes from a game's memory: no inline script or
// style may run, and nothing is loaded from elsewhere.
const char* const kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// An image key names a file in the assets folder only when it cannot leave it.
bool IsPlainFileName(const std::string& key) {
    if (key.empty() || key[0] == '.') return false;
    for (unsigned char ch : key) {
        bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
                     ch == '-' || ch == '.';
        if (!plain) return false;
    }
    return true;
}

bool ReadFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

struct WebPage::Server {
    httplib::Server http;
    std::thread thread;
    std::atomic<int> streams{0};
};

WebPage::WebPage(PresenceBoard& board) : board_(board) {}

WebPage::~WebPage() { Stop(); }

bool WebPage::Start(const WebPageOptions& options, int& port, std::string& error) {
    auto server = std::make_unique<Server>();
    httplib::Server& http = server->http;
    http.set_default_headers({{"Content-Security-Policy", kContentSecurityPolicy},
                              {"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Cache-Control", "no-store"}});

    // The library's default also sets SO_REUSEPORT, which would let a second
    // service share a port that is taken; an address in TIME_WAIT may be reused.
    http.set_socket_options([](socket_t socket) {
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    port = options.port == 0 ? http.bind_to_any_port(kLoopback) : options.port;
    if (port <= 0 || (options.port != 0 && !http.bind_to_port(kLoopback, options.port))) {
        error = "cannot bind " + std::string(kLoopback) + ":" + std::to_string(options.port);
        return false;
    }

    // A page that another site's name resolves to (DNS rebinding) must not
    // read the board: only requests addressed to this port on the loopback
    // names are served.
    const std::string byAddress = std::string(kLoopback) + ":" + std::to_string(port);
    const std::string byName = "localhost:" + std::to_string(port);
    http.set_pre_routing_handler([byAddress, byName](const httplib::Request& request, httplib::Response& response) {
        const std::string host = request.get_header_value("Host");
        if (host == byAddress || host == byName) return httplib::Server::HandlerResponse::Unhandled;
        response.status = 421;
        response.set_content("This page is served only as http://" + byAddress + "/\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });

    http.Get(R"(/|/[a-z_]+\.(html|js|css))", [](const httplib::Request& request, httplib::Response& response) {
        const WebFile* file = FindWebFile(request.path == "/" ? "/index.html" : request.path);
        if (file == nullptr) {
            response.status = 404;
            return;
        }
        response.set_content(reinterpret_cast<const char*>(file->data), file->size, file->contentType);
    });

    PresenceBoard& board = board_;
    std::atomic<int>& streams = server->streams;
    http.Get("/events", [&board, &streams](const httplib::Request&, httplib::Response& response) {
        if (++streams > kMostStreams) {
            --streams;
            response.status = 503;
            response.set_content("Too many pages are open; close one and reload.\n", "text/plain");
            return;
        }
        auto seen = std::make_shared<std::uint64_t>(~std::uint64_t{0});
        response.set_chunked_content_provider(
            "text/event-stream",
            [&board, seen](std::size_t, httplib::DataSink& sink) {
                if (!board.WaitForChange(*seen, kStreamIdleMs)) return false;
                std::uint64_t version = 0;
                std::string snapshot = board.Snapshot(version);
                std::string event = version == *seen ? ": idle\n\n" : "data: " + snapshot + "\n\n";
                *seen = version;
                return sink.write(event.data(), event.size());
            },
            [&streams](bool) { --streams; });
    });

    const std::string assetsDir = options.assetsDir;
    http.Get(R"(/assets/(.+)\.png)", [assetsDir](const httplib::Request& request, httplib::Response& response) {
        std::string key = request.matches[1];
        std::string content;
        if (assetsDir.empty() || !IsPlainFileName(key) || !ReadFile(assetsDir + "/" + key + ".png", content)) {
            response.status = 404;
            return;
        }
        response.set_content(content, "image/png");
    });

    Server* running = server.get();
    server->thread = std::thread([running] { running->http.listen_after_bind(); });
    server_ = std::move(server);
    return true;
}

void WebPage::Stop() {
    if (!server_) return;
    board_.Close();
    server_->http.stop();
    if (server_->thread.joinable()) server_->thread.join();
    server_.reset();
}

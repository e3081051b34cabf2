#include "tools/rpc_service/web_page.h"

// The HTTP library the page is served with comes as a shared library for
// Linux only, so the Windows build has no page.
struct WebPage::Server {};

WebPage::WebPage(PresenceBoard& board) : board_(board) {}
WebPage::~WebPage() = default;

bool WebPage::Start(const WebPageOptions&, int&, std::string& error) {
    error = "the web page is served only by the Linux build of rpc_service (its HTTP library, cpp-httplib, "
            "is not available to the Windows build)";
    return false;
}

void WebPage::Stop() {}

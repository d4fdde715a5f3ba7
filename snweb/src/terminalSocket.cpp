// A terminal page's WebSocket: what it types goes to its port's queue one
// whole message at a time, and what the node sends comes back to it.
#include <libwebsockets.h>

#include <cstdio>
#include <string>
#include <vector>

#include "webSession.h"

namespace snweb {

namespace {

constexpr std::size_t kTerminalFrame = 16 * 1024;  // the node's bytes in one message

TerminalFeed& feedOf(const WebServer::Session& session) {
    return session.node->terminal(session.port);
}

}  // namespace

// A page that only looks starts no relay: the port stays as its other
// users left it, and what the node received stays there for them.
void WebServer::openTerminal(lws* wsi, Session& session) {
    TerminalFeed& feed = feedOf(session);
    session.page.cursor = feed.cursorAtEnd();
    if (!readOnly_) {
        feed.attach();
        session.node->wake();
    }
    log(wsi, session.nodeName + ": terminal on port " + std::to_string(session.port) + " opened" +
                 (readOnly_ ? " (read-only)" : ""));
}

void WebServer::closeTerminal(Session& session) {
    if (!readOnly_ && !tearingDown_) {
        feedOf(session).detach();
        session.node->wake();
    }
    const std::string why = session.closedFor.empty() ? "" : ": " + session.closedFor;
    const std::string left = session.typing.empty() ? ""
                                                    : ", " + std::to_string(session.typing.size()) +
                                                          " typed bytes not queued dropped";
    std::fprintf(stderr, "snweb: %s: %s: terminal on port %d closed%s%s\n", session.address.c_str(),
                 session.nodeName.c_str(), session.port, why.c_str(), left.c_str());
}

// A message up to the bound is gathered whole; a larger one ends the
// connection with the reason, never cut in silence.
int WebServer::onReceive(lws* wsi, Session& session, const void* in, std::size_t len) {
    session.received += len;
    if (session.received > limits_.message) {
        const std::string why = "message over " + std::to_string(limits_.message) + " bytes";
        log(wsi, "closed WebSocket: " + why);
        lws_close_reason(wsi, LWS_CLOSE_STATUS_MESSAGE_TOO_LARGE,
                         reinterpret_cast<unsigned char*>(const_cast<char*>(why.data())),
                         why.size());
        return -1;
    }
    const bool last = lws_is_final_fragment(wsi) != 0;
    if (last) session.received = 0;
    if (session.kind != Session::Kind::Terminal || readOnly_) return 0;
    const auto* bytes = static_cast<const uint8_t*>(in);
    session.typing.insert(session.typing.end(), bytes, bytes + len);
    if (last) session.whole = session.typing.size();
    if (!session.held) typeInto(wsi, session);
    return 0;
}

// The whole message goes into the port's queue, or waits with the socket
// unread until the queue has room for it: nothing typed is cut or dropped,
// and no page holds more than its one message.
void WebServer::typeInto(lws* wsi, Session& session) {
    if (session.whole == 0) return;
    if (feedOf(session).type(session.typing.data(), session.whole)) {
        session.typing.erase(session.typing.begin(),
                             session.typing.begin() + static_cast<long>(session.whole));
        session.whole = 0;
        if (session.held) lws_rx_flow_control(wsi, 1);
        session.held = false;
        return;
    }
    if (!session.held) lws_rx_flow_control(wsi, 0);
    session.held = true;
}

void WebServer::wakeTerminal(lws* wsi, Session& session, bool nodes, bool terminals) {
    if (terminals && session.held) typeInto(wsi, session);
    if (terminals && feedOf(session).pending(session.page.cursor)) lws_callback_on_writable(wsi);
    // Whether a page reads the port shows in the node's status.
    if (nodes && readOnly_) lws_callback_on_writable(wsi);
}

int WebServer::writeTerminal(lws* wsi, Session& session) {
    std::vector<unsigned char> buffer(LWS_PRE + kTerminalFrame);
    unsigned char* payload = buffer.data() + LWS_PRE;
    TerminalFeed& feed = feedOf(session);
    const bool reading =
        !readOnly_ || session.node->status().ports[static_cast<std::size_t>(session.port)].terminal;
    const TerminalFrame frame =
        nextTerminalFrame(feed, session.page, !readOnly_, reading, payload, kTerminalFrame);
    const auto kind = frame.notice ? LWS_WRITE_TEXT : LWS_WRITE_BINARY;
    if (frame.length != 0 &&
        lws_write(wsi, payload, frame.length, kind) < static_cast<int>(frame.length))
        return -1;
    if (frame.notice || feed.pending(session.page.cursor)) lws_callback_on_writable(wsi);
    return 0;
}

}  // namespace snweb

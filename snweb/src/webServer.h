// The pages, their WebSockets and their commands over libwebsockets: one
// thread serves every client, never waiting for a node (the pollers do),
// so a slow node or a slow browser holds up nobody else.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "access.h"
#include "nodes.h"
#include "routes.h"

struct lws;
struct lws_context;

namespace snweb {

struct ServerLimits {
    unsigned connections = 64;  // at once, in all
    unsigned sockets = 32;      // WebSockets at once
    // Largest message from a page, taken whole: a terminal's paste up to
    // this goes to the port as it is (the page splits a larger one).
    std::size_t message = kTerminalMessage;
    // A page that takes nothing sent to it for this long is closed.
    std::chrono::seconds unread{10};
};

class WebServer {
public:
    // Listens at once; throws std::runtime_error when it cannot.
    WebServer(const std::string& host, int port, std::string token,
              const std::vector<std::string>& allowedHosts, bool readOnly,
              std::vector<std::unique_ptr<NodePoller>>& nodes, ServerLimits limits = {});
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    int port() const { return policy_.port; }
    // Serves until stop() is called (from any thread).
    void run();
    void stop();
    // A node has news: the pages are told on the serving thread.
    void nodeChanged();
    // A terminal's relay gave bytes or took keystrokes.
    void terminalNews();

    // libwebsockets' callback, for every connection.
    int handle(lws* wsi, int reason, void* in, std::size_t len);

    struct Session;  // one connection's (webSession.h)

private:
    int onHttp(lws* wsi, Session& session, const char* path);
    int onBody(lws* wsi, Session& session, const void* in, std::size_t len);
    int onBodyEnd(lws* wsi, Session& session);
    bool admitSocket(lws* wsi, Session& session);
    int onWritable(lws* wsi, Session& session);
    // Whether a page reads what it is sent (readerWatch.cpp).
    void watchReader(lws* wsi, Session& session);
    int checkReader(lws* wsi, Session& session);
    int onReceive(lws* wsi, Session& session, const void* in, std::size_t len);
    // A terminal page's WebSocket (terminalSocket.cpp).
    void openTerminal(lws* wsi, Session& session);
    int writeTerminal(lws* wsi, Session& session);
    void typeInto(lws* wsi, Session& session);
    void wakeTerminal(lws* wsi, Session& session, bool nodes, bool terminals);
    void closeTerminal(Session& session);
    void wakeSessions();
    void closeSession(lws* wsi, Session& session);
    int servePage(lws* wsi, const Route& route);
    int login(lws* wsi, const std::string& path, const std::string& given);
    bool startPost(lws* wsi, Session& session, const Route& route);
    NodePoller* nodeNamed(const std::string& name) const;
    std::string nextMessage(Session& session);
    void log(lws* wsi, const std::string& what) const;

    AccessPolicy policy_;
    const bool readOnly_;
    const ServerLimits limits_;
    std::vector<std::unique_ptr<NodePoller>>& nodes_;
    std::unordered_map<lws*, std::unique_ptr<Session>> sessions_;
    unsigned sockets_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> nodesChanged_{false};
    std::atomic<bool> terminalsChanged_{false};
    bool tearingDown_ = false;
    lws_context* context_ = nullptr;
};

}  // namespace snweb

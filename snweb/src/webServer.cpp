#include "webServer.h"

#include <libwebsockets.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "actions.h"
#include "assets.h"
#include "pages.h"
#include "sncommon/integerParsing.h"
#include "stateJson.h"
#include "webSession.h"

namespace snweb {

namespace {

constexpr std::size_t kMostSamplesAMessage = 2000;
constexpr const char* kProtocolName = "snweb";

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Reply {
    unsigned status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    Headers headers;
};

std::string header(lws* wsi, lws_token_indexes token) {
    const int length = lws_hdr_total_length(wsi, token);
    if (length <= 0) return "";
    std::string value(static_cast<std::size_t>(length) + 1, '\0');
    if (lws_hdr_copy(wsi, value.data(), length + 1, token) < 0) return "";
    value.resize(static_cast<std::size_t>(length));
    return value;
}

std::string peer(lws* wsi) {
    char address[64] = "?";
    lws_get_peer_simple(wsi, address, sizeof address);
    return address;
}

// Headers, then the body: the library keeps what the socket does not take
// at once and sends it when it can.
int send(lws* wsi, const Reply& reply, bool close = false) {
    std::vector<unsigned char> head(LWS_PRE + 2048);
    unsigned char* start = head.data() + LWS_PRE;
    unsigned char* p = start;
    unsigned char* end = head.data() + head.size() - 1;
    Headers headers = reply.headers;
    headers.emplace_back("x-frame-options:", "DENY");
    headers.emplace_back("x-content-type-options:", "nosniff");
    headers.emplace_back("cache-control:", "no-store");
    headers.emplace_back("content-security-policy:",
                         "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                         "frame-ancestors 'none'");
    if (close) headers.emplace_back("connection:", "close");
    if (lws_add_http_common_headers(wsi, reply.status, reply.contentType.c_str(), reply.body.size(),
                                    &p, end))
        return -1;
    for (const auto& [name, value] : headers) {
        if (lws_add_http_header_by_name(wsi, reinterpret_cast<const unsigned char*>(name.c_str()),
                                        reinterpret_cast<const unsigned char*>(value.c_str()),
                                        static_cast<int>(value.size()), &p, end))
            return -1;
    }
    if (lws_finalize_write_http_header(wsi, start, &p, end)) return -1;
    if (!reply.body.empty()) {
        std::vector<unsigned char> body(LWS_PRE + reply.body.size());
        std::memcpy(body.data() + LWS_PRE, reply.body.data(), reply.body.size());
        if (lws_write(wsi, body.data() + LWS_PRE, reply.body.size(), LWS_WRITE_HTTP_FINAL) < 0)
            return -1;
    }
    if (close) return -1;
    return lws_http_transaction_completed(wsi) ? -1 : 0;
}

Reply plain(unsigned status, std::string text) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(text) + "\n";
    return reply;
}

int callback(lws* wsi, lws_callback_reasons reason, void* user, void* in, std::size_t len) {
    lws_context* context = lws_get_context(wsi);
    auto* server =
        context == nullptr ? nullptr : static_cast<WebServer*>(lws_context_user(context));
    if (server == nullptr) return lws_callback_http_dummy(wsi, reason, user, in, len);
    const int handled = server->handle(wsi, static_cast<int>(reason), in, len);
    if (handled != 1) return handled;  // 1: left to the library
    return lws_callback_http_dummy(wsi, reason, user, in, len);
}

const lws_protocols kProtocols[] = {
    {"http", callback, 0, 0, 0, nullptr, 0},
    {kProtocolName, callback, 0, 4096, 0, nullptr, 0},
    {nullptr, nullptr, 0, 0, 0, nullptr, 0},
};

void emitLibraryLog(int level, const char* line) {
    if (level & LLL_ERR) std::fprintf(stderr, "snweb: libwebsockets: %s", line);
}

}  // namespace

WebServer::WebServer(const std::string& host, int port, std::string token,
                     const std::vector<std::string>& allowedHosts, bool readOnly,
                     std::vector<std::unique_ptr<NodePoller>>& nodes, ServerLimits limits)
    : readOnly_(readOnly), limits_(limits), nodes_(nodes) {
    lws_set_log_level(LLL_ERR, emitLibraryLog);
    lws_context_creation_info info;
    std::memset(&info, 0, sizeof info);
    info.port = port;
    info.iface = host.c_str();
    info.protocols = kProtocols;
    info.user = this;
    info.options = LWS_SERVER_OPTION_VALIDATE_UTF8;
    if (host.find(':') == std::string::npos) info.options |= LWS_SERVER_OPTION_DISABLE_IPV6;
    info.fd_limit_per_thread = limits.connections + 8;  // and the library's own
    info.max_http_header_data = 4096;
    info.max_http_header_pool = 32;
    info.timeout_secs = 10;
    info.timeout_secs_ah_idle = 5;
    info.keepalive_timeout = 10;
    context_ = lws_create_context(&info);
    if (context_ == nullptr) throw std::runtime_error("cannot listen on " + host);
    lws_vhost* vhost = lws_get_vhost_by_name(context_, "default");
    const int bound = vhost == nullptr ? -1 : lws_get_vhost_listen_port(vhost);
    if (bound <= 0) {
        lws_context_destroy(context_);
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    }
    policy_ = makePolicy(std::move(token), host, bound, allowedHosts);
}

WebServer::~WebServer() {
    lws_context* context = context_;
    context_ = nullptr;
    tearingDown_ = true;  // the nodes may be gone: closing sockets leave them be
    lws_context_destroy(context);
}

void WebServer::run() {
    while (!stopping_.load()) lws_service(context_, 0);
}

void WebServer::stop() {
    stopping_ = true;
    lws_cancel_service(context_);
}

void WebServer::nodeChanged() {
    nodesChanged_ = true;
    if (context_ != nullptr) lws_cancel_service(context_);
}

void WebServer::terminalNews() {
    terminalsChanged_ = true;
    if (context_ != nullptr) lws_cancel_service(context_);
}

// On the serving thread: pages with news get a writable callback, and held
// terminal pages may type again once their port's queue has room.
void WebServer::wakeSessions() {
    const bool nodes = nodesChanged_.exchange(false);
    const bool terminals = terminalsChanged_.exchange(false);
    for (const auto& [socket, open] : sessions_) {
        const bool page =
            open->kind == Session::Kind::Overview || open->kind == Session::Kind::Node;
        if (page && nodes) lws_callback_on_writable(socket);
        if (open->kind == Session::Kind::Terminal) wakeTerminal(socket, *open, nodes, terminals);
    }
}

void WebServer::closeSession(lws* wsi, Session& session) {
    if (session.kind == Session::Kind::Overview || session.kind == Session::Kind::Node) --sockets_;
    if (session.kind == Session::Kind::Terminal) {
        --sockets_;
        closeTerminal(session);
    }
    sessions_.erase(wsi);
}

void WebServer::log(lws* wsi, const std::string& what) const {
    std::fprintf(stderr, "snweb: %s: %s\n", peer(wsi).c_str(), what.c_str());
}

NodePoller* WebServer::nodeNamed(const std::string& name) const {
    for (const auto& node : nodes_)
        if (node->target().name == name) return node.get();
    return nullptr;
}

int WebServer::handle(lws* wsi, int reason, void* in, std::size_t len) {
    auto found = sessions_.find(wsi);
    Session* session = found == sessions_.end() ? nullptr : found->second.get();
    auto ensure = [&]() -> Session& {
        if (session == nullptr) session = (sessions_[wsi] = std::make_unique<Session>()).get();
        return *session;
    };
    switch (reason) {
        case LWS_CALLBACK_HTTP:
            return onHttp(wsi, ensure(), static_cast<const char*>(in));
        case LWS_CALLBACK_HTTP_BODY:
            return session == nullptr ? -1 : onBody(wsi, *session, in, len);
        case LWS_CALLBACK_HTTP_BODY_COMPLETION:
            return session == nullptr ? -1 : onBodyEnd(wsi, *session);
        case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
            return admitSocket(wsi, ensure()) ? 0 : -1;
        case LWS_CALLBACK_ESTABLISHED:
            if (session != nullptr) watchReader(wsi, *session);
            lws_callback_on_writable(wsi);
            return 0;
        case LWS_CALLBACK_TIMER:
            return session == nullptr ? 0 : checkReader(wsi, *session);
        case LWS_CALLBACK_SERVER_WRITEABLE:
            return session == nullptr ? -1 : onWritable(wsi, *session);
        case LWS_CALLBACK_RECEIVE:
            return session == nullptr ? -1 : onReceive(wsi, *session, in, len);
        case LWS_CALLBACK_EVENT_WAIT_CANCELLED:
            wakeSessions();
            return 0;
        case LWS_CALLBACK_WSI_DESTROY:
            if (session != nullptr) closeSession(wsi, *session);
            return 1;
        default:
            return 1;
    }
}

int WebServer::onHttp(lws* wsi, Session& session, const char* path) {
    session = Session{};  // a connection kept alive carries one request after another
    const bool post = lws_hdr_total_length(wsi, WSI_TOKEN_POST_URI) > 0;
    const bool get = lws_hdr_total_length(wsi, WSI_TOKEN_GET_URI) > 0;
    if (!hostAllowed(policy_, header(wsi, WSI_TOKEN_HOST))) {
        log(wsi, "refused: Host '" + header(wsi, WSI_TOKEN_HOST) + "'");
        return send(wsi, plain(403, "unknown Host"), post);
    }
    char argument[300];
    if (get) {
        if (const char* given = lws_get_urlarg_by_name(wsi, "token=", argument, sizeof argument))
            return login(wsi, path, given);
    }
    const std::string cookies = header(wsi, WSI_TOKEN_HTTP_COOKIE);
    const auto cookie = cookieValue(cookies, kCookieName);
    if (!cookie || !tokenMatches(policy_.token, *cookie))
        return send(wsi, plain(401, "open the URL snweb printed, token included"), post);
    const Route route = routeOf(path);
    if (get) return servePage(wsi, route);
    if (post && startPost(wsi, session, route)) return 0;  // the body comes next
    return -1;
}

int WebServer::login(lws* wsi, const std::string& path, const std::string& given) {
    if (!tokenMatches(policy_.token, given)) {
        log(wsi, "refused: wrong token");
        return send(wsi, plain(401, "wrong token"));
    }
    log(wsi, "login");
    Reply reply = plain(303, "logged in");
    reply.headers.emplace_back("location:", path);
    reply.headers.emplace_back("set-cookie:", std::string(kCookieName) + "=" + policy_.token +
                                                  "; HttpOnly; SameSite=Strict; Path=/");
    return send(wsi, reply);
}

int WebServer::servePage(lws* wsi, const Route& route) {
    Reply reply;
    NodePoller* node = route.node.empty() ? nullptr : nodeNamed(route.node);
    switch (route.page) {
        case Page::Overview:
            reply = {200, "text/html; charset=utf-8", pageHtml("overview", "", -1), {}};
            break;
        case Page::Node:
        case Page::Port:
            if (node == nullptr) return send(wsi, plain(404, "no node " + route.node));
            reply = {200,
                     "text/html; charset=utf-8",
                     pageHtml(route.page == Page::Node ? "node" : "port", route.node, route.port),
                     {}};
            break;
        case Page::Csv:
            if (node == nullptr) return send(wsi, plain(404, "no node " + route.node));
            reply = {200, "text/csv; charset=utf-8", node->csv(), {}};
            reply.headers.emplace_back("content-disposition:",
                                       "attachment; filename=\"" + route.node + ".csv\"");
            break;
        case Page::Asset: {
            const Asset asset = findAsset(route.detail);
            if (asset.name.empty()) return send(wsi, plain(404, "no such file"));
            reply = {200, std::string(asset.contentType), std::string(asset.bytes), {}};
            break;
        }
        default:
            return send(wsi, plain(404, "no such page"));
    }
    return send(wsi, reply);
}

// A change: from this site's own page (Origin), as JSON (which a form of
// another site cannot send without asking first), unless read-only.
bool WebServer::startPost(lws* wsi, Session& session, const Route& route) {
    const std::string origin = header(wsi, WSI_TOKEN_ORIGIN);
    const std::string type = header(wsi, WSI_TOKEN_HTTP_CONTENT_TYPE);
    const std::string length = header(wsi, WSI_TOKEN_HTTP_CONTENT_LENGTH);
    std::string refusal;
    unsigned status = 403;
    if (!originAllowed(policy_, origin)) {
        refusal = "Origin '" + origin + "'";
    } else if (readOnly_) {
        refusal = "read-only";
    } else if (route.page != Page::Command || nodeNamed(route.node) == nullptr) {
        status = 404;
        refusal = "no such command";
    } else if (type.rfind("application/json", 0) != 0) {
        status = 415;
        refusal = "not JSON";
    } else if (const auto size = sncommon::parseInteger(length, 1, static_cast<long>(kLargestBody));
               !size) {
        status = 413;
        refusal = "body of " + (length.empty() ? std::string("unknown") : length) + " bytes";
    }
    if (!refusal.empty()) {
        log(wsi, "refused: " + refusal);
        send(wsi, plain(status, "refused: " + refusal), true);
        return false;
    }
    session.kind = Session::Kind::Post;
    session.node = nodeNamed(route.node);
    session.action = route.detail;
    return true;
}

int WebServer::onBody(lws*, Session& session, const void* in, std::size_t len) {
    if (session.body.size() + len > kLargestBody) {
        session.tooLarge = true;
        return 0;
    }
    session.body.append(static_cast<const char*>(in), len);
    return 0;
}

int WebServer::onBodyEnd(lws* wsi, Session& session) {
    if (session.kind != Session::Kind::Post || session.tooLarge)
        return send(wsi, plain(413, "refused: body too large"), true);
    const ParsedCommand parsed = parseCommand(session.action, session.body);
    session.body.clear();
    if (!parsed.command) return send(wsi, plain(400, parsed.refusal));
    const std::string what =
        "node " + session.node->target().name + ": " + describe(*parsed.command);
    if (!session.node->submit(*parsed.command)) {
        log(wsi, what + ": refused, too many waiting");
        return send(wsi, plain(503, "too many commands waiting"));
    }
    log(wsi, what);
    Reply reply = plain(202, "");
    reply.contentType = "application/json";
    reply.body = "{\"queued\":true}";
    return send(wsi, reply);
}

// The same checks as a page's, before the upgrade: a page of another site
// may open a WebSocket here, and only its Origin tells.
bool WebServer::admitSocket(lws* wsi, Session& session) {
    const std::string host = header(wsi, WSI_TOKEN_HOST);
    const std::string origin = header(wsi, WSI_TOKEN_ORIGIN);
    const std::string cookies = header(wsi, WSI_TOKEN_HTTP_COOKIE);
    const auto cookie = cookieValue(cookies, kCookieName);
    const Route route = routeOf(header(wsi, WSI_TOKEN_GET_URI));
    std::string refusal;
    if (!hostAllowed(policy_, host)) {
        refusal = "Host '" + host + "'";
    } else if (!originAllowed(policy_, origin)) {
        refusal = "Origin '" + origin + "'";
    } else if (!cookie || !tokenMatches(policy_.token, *cookie)) {
        refusal = "no token";
    } else if (sockets_ >= limits_.sockets) {
        refusal = "too many pages open";
    } else if (route.page == Page::SocketOverview) {
        session.kind = Session::Kind::Overview;
    } else if (route.page == Page::SocketNode && (session.node = nodeNamed(route.node))) {
        session.kind = Session::Kind::Node;
    } else if (route.page == Page::SocketTerminal && (session.node = nodeNamed(route.node))) {
        session.kind = Session::Kind::Terminal;
        session.port = route.port;
    } else {
        refusal = "no such stream";
    }
    if (!refusal.empty()) {
        log(wsi, "refused WebSocket: " + refusal);
        return false;
    }
    ++sockets_;
    if (session.kind == Session::Kind::Terminal) {
        session.address = peer(wsi);
        session.nodeName = "node " + route.node;
        openTerminal(wsi, session);
    }
    return true;
}

std::string WebServer::nextMessage(Session& session) {
    if (session.kind == Session::Kind::Overview) {
        std::vector<const NodePoller*> nodes;
        for (const auto& node : nodes_) nodes.push_back(node.get());
        std::string text = overviewJson(nodes, readOnly_);
        if (text == session.lastSent) return "";
        session.lastSent = text;
        return text;
    }
    const NodeStatus status = session.node->status();
    std::vector<Sample> samples =
        session.node->samplesSince(session.lastSample, kMostSamplesAMessage);
    std::string bare = nodeJson(*session.node, status, {}, readOnly_);
    if (samples.empty() && bare == session.lastSent) return "";
    session.lastSent = std::move(bare);
    if (!samples.empty()) session.lastSample = samples.back().time;
    return nodeJson(*session.node, status, samples, readOnly_);
}

int WebServer::onWritable(lws* wsi, Session& session) {
    if (session.kind == Session::Kind::Terminal) return writeTerminal(wsi, session);
    const std::string message = nextMessage(session);
    if (message.empty()) return 0;
    std::vector<unsigned char> buffer(LWS_PRE + message.size());
    std::memcpy(buffer.data() + LWS_PRE, message.data(), message.size());
    const int written = lws_write(wsi, buffer.data() + LWS_PRE, message.size(), LWS_WRITE_TEXT);
    return written < static_cast<int>(message.size()) ? -1 : 0;
}

}  // namespace snweb

// A small HTTP server for the programs' read-only pages (/metrics, /probe),
// on GNU libmicrohttpd.  It serves GET and HEAD only, listens on exactly the
// address it is given, and bounds what one client can hold: connections in
// all, connections per address, idle time and memory per connection.  Each
// connection has a thread of its own, so a slow handler delays only its
// own client.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "snline/hostPort.h"

struct MHD_Daemon;

namespace sncommon {

// Addresses are HOST:PORT as the library and every program take them.
using snline::HostPort;

struct HttpField {
    std::string name;
    std::string value;
};

struct HttpRequest {
    std::string method;              // "GET" or "HEAD" (a HEAD answer goes without its body)
    std::string path;                // without the query, %XX decoded
    std::vector<HttpField> query;    // decoded (%XX and '+'), in request order
    std::vector<HttpField> headers;  // as received

    // The first query parameter called `name` (exact match).
    std::optional<std::string_view> queryValue(std::string_view name) const;
    // The first header called `name`, whatever its case.
    std::optional<std::string_view> header(std::string_view name) const;
};

struct HttpResponse {
    unsigned status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
};

// The handler runs on the connection's thread, several at once: it must be
// thread-safe and must return (the server's destructor waits for it).  An
// exception from it is answered 500.
using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

struct HttpServerLimits {
    unsigned connections = 64;  // at once, in all (one thread each)
    // At once from one client address; 0: no limit of its own.  Half the
    // total, so that one client always leaves room for another.
    unsigned perAddress = 32;
    std::chrono::seconds idleTimeout{10};  // a silent connection is closed then
    // Request line and headers must fit, or the request is refused (414 or
    // 431); bodies of answers are held apart.
    std::size_t memoryPerConnection = 32 * 1024;
    // libmicrohttpd's complaints (refused connections, failed binds), from
    // any of its threads; unset: dropped.
    std::function<void(const std::string&)> log;
};

class HttpServer {
public:
    // Resolves the host, binds the first address it gives (IPv4 or IPv6,
    // only that one) and starts serving.  Port "0" picks a free port.
    // Throws std::runtime_error when the host does not resolve or nothing
    // can be bound, saying which.
    HttpServer(const HostPort& where, HttpHandler handler, HttpServerLimits limits = {});
    // The same with "HOST:PORT" text as parseHostPort takes it (port 1 to
    // 65535); std::invalid_argument when it is not.
    HttpServer(const char* hostPort, HttpHandler handler, HttpServerLimits limits = {});
    ~HttpServer();  // stops listening, then waits for the handlers running
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return port_; }  // the one bound

private:
    friend struct HttpServerAccess;

    HttpHandler handler_;
    HttpServerLimits limits_;
    MHD_Daemon* daemon_ = nullptr;
    std::uint16_t port_ = 0;
};

}  // namespace sncommon

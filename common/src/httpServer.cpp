#include "sncommon/httpServer.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <microhttpd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace sncommon {

using snline::parseHostPort;

namespace {

constexpr const char* kAllowed = "GET, HEAD";

struct AddrInfoFree {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

AddrInfoList resolve(const HostPort& where) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(where.host, where.port, &hints, &list);
    if (rc != 0) {
        throw std::runtime_error(std::string("cannot resolve ") + where.host + ": " +
                                 gai_strerror(rc));
    }
    return AddrInfoList(list);
}

std::string describe(const HostPort& where) {
    const bool v6 = std::strchr(where.host, ':') != nullptr;
    return (v6 ? "[" : "") + std::string(where.host) + (v6 ? "]:" : ":") + where.port;
}

MHD_Result collectField(void* cls, MHD_ValueKind, const char* key, size_t keySize,
                        const char* value, size_t valueSize) {
    auto* fields = static_cast<std::vector<HttpField>*>(cls);
    // A parameter without '=' comes with no value at all.
    fields->push_back(HttpField{std::string(key, keySize),
                                value != nullptr ? std::string(value, valueSize) : ""});
    return MHD_YES;
}

HttpRequest gather(MHD_Connection* connection, const char* url, const char* method) {
    HttpRequest request;
    request.method = method;
    request.path = url;
    MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, &collectField, &request.query);
    MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &collectField, &request.headers);
    return request;
}

MHD_Result queue(MHD_Connection* connection, const HttpResponse& answer, bool refusedMethod) {
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_Result ok =
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    if (ok == MHD_YES && refusedMethod) {
        ok = MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, kAllowed);
    }
    if (ok == MHD_YES) ok = MHD_queue_response(connection, answer.status, response);
    MHD_destroy_response(response);
    return ok;
}

HttpResponse plain(unsigned status, const char* text) {
    return HttpResponse{status, "text/plain; charset=utf-8", text};
}

}  // namespace

struct HttpServerAccess {
    // Answered on the first call, once the headers are in: nothing served
    // here takes a body, so none is waited for.
    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char*, size_t*, void**) {
        try {
            return answer(*static_cast<const HttpServer*>(cls), connection, url, method);
        } catch (...) {
            return MHD_NO;  // out of memory even for the 500: the connection is closed
        }
    }

    static MHD_Result answer(const HttpServer& server, MHD_Connection* connection, const char* url,
                             const char* method) {
        const bool served = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                            std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
        if (!served) {
            return queue(connection, plain(MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n"),
                         true);
        }
        HttpResponse response;
        try {
            response = server.handler_(gather(connection, url, method));
        } catch (...) {
            response = plain(MHD_HTTP_INTERNAL_SERVER_ERROR, "internal error\n");
        }
        return queue(connection, response, false);
    }

    static void onLog(void* cls, const char* format, va_list args) {
        const auto* server = static_cast<const HttpServer*>(cls);
        if (!server->limits_.log) return;
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        std::string line(text);
        while (!line.empty() && line.back() == '\n') line.pop_back();
        try {
            server->limits_.log(line);
        } catch (...) {
            // A failing log must not unwind through libmicrohttpd.
        }
    }

    static MHD_Daemon* start(HttpServer& server, const addrinfo& address) {
        const HttpServerLimits& limits = server.limits_;
        unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                         MHD_USE_AUTO | MHD_USE_ERROR_LOG;
        if (address.ai_family == AF_INET6) flags |= MHD_USE_IPv6;
        MHD_OptionItem options[] = {
            {MHD_OPTION_SOCK_ADDR, 0, address.ai_addr},
            {MHD_OPTION_CONNECTION_LIMIT, limits.connections, nullptr},
            {MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.perAddress, nullptr},
            {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(limits.idleTimeout.count()),
             nullptr},
            {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits.memoryPerConnection),
             nullptr},
            {MHD_OPTION_END, 0, nullptr},
        };
        return MHD_start_daemon(flags, 0, nullptr, nullptr, &onRequest, &server, MHD_OPTION_ARRAY,
                                options, MHD_OPTION_EXTERNAL_LOGGER, &onLog, &server,
                                MHD_OPTION_END);
    }
};

HttpServer::HttpServer(const HostPort& where, HttpHandler handler, HttpServerLimits limits)
    : handler_(std::move(handler)), limits_(std::move(limits)) {
    const AddrInfoList list = resolve(where);
    int failure = 0;
    for (const addrinfo* address = list.get(); address != nullptr; address = address->ai_next) {
        if (address->ai_family != AF_INET && address->ai_family != AF_INET6) continue;
        errno = 0;
        daemon_ = HttpServerAccess::start(*this, *address);
        if (daemon_ != nullptr) break;
        failure = errno;
    }
    if (daemon_ == nullptr) {
        throw std::runtime_error("cannot serve HTTP on " + describe(where) + ": " +
                                 (failure != 0 ? std::strerror(failure) : "refused"));
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info != nullptr ? info->port : 0;
}

HttpServer::HttpServer(const char* hostPort, HttpHandler handler, HttpServerLimits limits)
    : HttpServer(
          [hostPort] {
              HostPort where;
              if (!parseHostPort(hostPort, where)) {
                  throw std::invalid_argument(std::string("not HOST:PORT: ") +
                                              (hostPort != nullptr ? hostPort : "(none)"));
              }
              return where;
          }(),
          std::move(handler), std::move(limits)) {}

HttpServer::~HttpServer() { MHD_stop_daemon(daemon_); }

}  // namespace sncommon

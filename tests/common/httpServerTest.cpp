// The HTTP server behind /metrics and /probe: what reaches the handler,
// what it refuses, what one client can hold, where it listens.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rawHttpClient.h"
#include "sncommon/httpServer.h"

namespace {

using namespace std::chrono_literals;
using sncommon::HttpRequest;
using sncommon::HttpResponse;
using sntest::exchange;
using sntest::parseReply;
using sntest::request;

snline::HostPort at(const char* host) {
    snline::HostPort where;
    std::strcpy(where.host, host);
    std::strcpy(where.port, "0");
    return where;
}

// /ok answers, /slow waits until released, /throw fails, others are echoed
// with status 202; the last request is kept and the /slow ones counted.
class Site {
public:
    ~Site() { release(); }  // the server goes first: it waits for its handlers
    sncommon::HttpHandler handler() {
        return [this](const HttpRequest& request) -> HttpResponse {
            std::unique_lock<std::mutex> lock(mutex_);
            last_ = request;
            if (request.path == "/throw") throw std::runtime_error("handler failed");
            if (request.path == "/slow") {
                most_ = std::max(most_, ++inside_);
                changed_.notify_all();
                changed_.wait_for(lock, 20s, [this] { return open_; });
                --inside_;
            }
            if (request.path == "/ok" || request.path == "/slow") {
                return {200, "text/plain; charset=utf-8", request.path.substr(1) + "\n"};
            }
            return {202, "application/x-test", "seen " + request.path + "\n"};
        };
    }
    HttpRequest last() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }
    // The most /slow handlers held at once, once `count` are, or after 10 s.
    int mostHeldOnce(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, 10s, [&] { return inside_ >= count; });
        lock.unlock();
        std::this_thread::sleep_for(300ms);  // room for any more a limit let through
        lock.lock();
        return most_;
    }
    void release() {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    HttpRequest last_;
    bool open_ = false;
    int inside_ = 0;
    int most_ = 0;
};

bool servesNow(const std::string& address, std::uint16_t port) {
    const auto reply = parseReply(exchange(address, port, request("/ok")));
    return reply.status == 200 && reply.body == "ok\n";
}

// Serves again within a few seconds, once the connections before are gone.
bool servesAgain(std::uint16_t port) {
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (servesNow("127.0.0.1", port)) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

TEST(HttpServer, PassesTheDecodedRequestAndSendsTheHandlersAnswer) {
    Site site;
    const sncommon::HttpServer server(at("127.0.0.1"), site.handler());
    ASSERT_NE(server.port(), 0);
    const auto reply =
        parseReply(exchange("127.0.0.1", server.port(),
                            request("/probe?target=node%201&name=a+b&flag&odd=%26%3D%2B",
                                    "X-Prometheus-Scrape-Timeout-Seconds: 2.5\r\n")));
    EXPECT_EQ(reply.status, 202u);
    EXPECT_NE(reply.head.find("\r\nContent-Type: application/x-test\r\n"), std::string::npos);
    EXPECT_EQ(reply.body, "seen /probe\n");

    const HttpRequest seen = site.last();
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.path, "/probe");
    std::vector<std::pair<std::string, std::string>> query;
    for (const auto& field : seen.query) query.emplace_back(field.name, field.value);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"target", "node 1"}, {"name", "a b"}, {"flag", ""}, {"odd", "&=+"}};
    EXPECT_EQ(query, expected);
    EXPECT_EQ(seen.queryValue("target"), "node 1");
    EXPECT_FALSE(seen.queryValue("Target").has_value());
    EXPECT_EQ(seen.header("x-prometheus-scrape-timeout-seconds"), "2.5");
    EXPECT_FALSE(seen.header("X-Missing").has_value());
}

TEST(HttpServer, ServesGetAndHeadOnlyAndAnswersAFailingHandlerWith500) {
    Site site;
    const sncommon::HttpServer server(at("127.0.0.1"), site.handler());
    const auto head = parseReply(exchange("127.0.0.1", server.port(), request("/ok", "", "HEAD")));
    EXPECT_EQ(head.status, 200u);
    EXPECT_EQ(head.body, "");
    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "BREW"}) {
        const auto reply = parseReply(exchange(
            "127.0.0.1", server.port(), request("/x", "Content-Length: 5\r\n", method) + "hello"));
        EXPECT_EQ(reply.status, 405u) << method;
        EXPECT_NE(reply.head.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << method;
    }
    EXPECT_EQ(site.last().path, "/ok") << "a refused method reached the handler";
    EXPECT_EQ(parseReply(exchange("127.0.0.1", server.port(), request("/throw"))).status, 500u);
    EXPECT_TRUE(servesNow("127.0.0.1", server.port()));
}

TEST(HttpServer, SurvivesGarbageMalformedAndOversizedRequests) {
    Site site;
    const sncommon::HttpServer server(at("127.0.0.1"), site.handler());
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xff);
    const std::string longUrl = "/" + std::string(100 * 1024, 'a');
    const std::vector<std::string> requests{
        noise,
        "GARBAGE\r\n\r\n",
        "GET\r\n\r\n",
        "GET /ok HTTP/7.0\r\nHost: test\r\n\r\n",
        "GET /ok HTTP/1.1\r\nHost: test\r\nno colon here\r\n\r\n",
        "GET /ok HTTP/1.1\r\nHost: test\r\nContent-Length: 99999999999999999999999\r\n\r\n",
        request("/ok", "X-Big: " + std::string(100 * 1024, 'b') + "\r\n"),
        request(longUrl),
    };
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const auto reply = parseReply(exchange("127.0.0.1", server.port(), requests[i], true));
        EXPECT_TRUE(reply.status == 0 || reply.status >= 400) << i << ": " << reply.status;
        EXPECT_TRUE(servesNow("127.0.0.1", server.port())) << "after request " << i;
    }
    const auto tooLong = parseReply(exchange("127.0.0.1", server.port(), request(longUrl)));
    EXPECT_TRUE(tooLong.status == 414 || tooLong.status == 400 || tooLong.status == 0)
        << tooLong.status;
    EXPECT_EQ(site.last().path, "/ok");

    // The bound is the memory given to a connection.
    sncommon::HttpServerLimits small;
    small.memoryPerConnection = 8 * 1024;
    const sncommon::HttpServer tight(at("127.0.0.1"), site.handler(), small);
    const std::string target = "/" + std::string(10 * 1024, 'u');
    EXPECT_EQ(parseReply(exchange("127.0.0.1", server.port(), request(target))).status, 202u);
    EXPECT_EQ(parseReply(exchange("127.0.0.1", tight.port(), request(target))).status, 414u);
}

// 60 clients at once, more than the limits let in: `held` handlers run at
// once (so one slow handler holds only its own client), and every client
// is answered or refused, none hangs.
void expectAnsweredOrRefused(const sncommon::HttpServerLimits& limits, int held) {
    Site site;
    const sncommon::HttpServer server(at("127.0.0.1"), site.handler(), limits);
    std::vector<int> clients;
    for (int i = 0; i < 60; ++i) {
        clients.push_back(sntest::connectTo("127.0.0.1", server.port()));
        if (clients.back() >= 0) sntest::sendAll(clients.back(), request("/slow"));
    }
    EXPECT_EQ(site.mostHeldOnce(held), held);
    site.release();
    int answered = 0;
    for (const int fd : clients) {
        if (fd < 0) continue;
        const std::string raw = sntest::receive(fd, 10s).bytes;
        close(fd);
        if (raw.empty()) continue;  // refused
        EXPECT_EQ(parseReply(raw).body, "slow\n") << raw.substr(0, 200);
        ++answered;
    }
    EXPECT_GE(answered, held);
    EXPECT_TRUE(servesAgain(server.port()));
}

TEST(HttpServer, ConnectionsBeyondTheLimitsAreAnsweredOrRefused) {
    const sncommon::HttpServerLimits defaults;  // one address holds half of them
    expectAnsweredOrRefused(defaults, static_cast<int>(defaults.perAddress));
    sncommon::HttpServerLimits total;
    total.connections = 8;
    total.perAddress = 0;
    expectAnsweredOrRefused(total, 8);
}

TEST(HttpServer, LimitsConnectionsPerAddressAndClosesIdleOnes) {
    Site site;
    std::mutex logMutex;
    std::vector<std::string> logged;
    sncommon::HttpServerLimits limits;
    limits.perAddress = 2;
    limits.log = [&](const std::string& line) {
        const std::lock_guard<std::mutex> lock(logMutex);
        logged.push_back(line);
    };
    {
        const sncommon::HttpServer server(at("127.0.0.1"), site.handler(), limits);
        const int first = sntest::connectTo("127.0.0.1", server.port());
        const int second = sntest::connectTo("127.0.0.1", server.port());
        const int third = sntest::connectTo("127.0.0.1", server.port());
        EXPECT_TRUE(sntest::receive(third, 3s).closed) << "a third connection was held";
        EXPECT_FALSE(sntest::receive(first, 500ms).closed);
        for (const int fd : {first, second, third}) close(fd);
        EXPECT_TRUE(servesAgain(server.port()));
        const std::lock_guard<std::mutex> lock(logMutex);
        ASSERT_FALSE(logged.empty()) << "the refusal was not logged";
        EXPECT_NE(logged.front(), "");
        EXPECT_NE(logged.front().back(), '\n');
    }
    limits.idleTimeout = 1s;
    const sncommon::HttpServer server(at("127.0.0.1"), site.handler(), limits);
    const int silent = sntest::connectTo("127.0.0.1", server.port());
    const int halfway = sntest::connectTo("127.0.0.1", server.port());
    ASSERT_GE(silent, 0);
    ASSERT_GE(halfway, 0);
    sntest::sendAll(halfway, "GET /ok HTTP/1.1\r\nHost: te");
    EXPECT_TRUE(sntest::receive(silent).closed);
    EXPECT_TRUE(sntest::receive(halfway).closed);
    close(silent);
    close(halfway);
}

// The addresses in LISTEN state on `port` in /proc/net/tcp or tcp6, in
// the kernel's hex.
std::vector<std::string> listening(const char* table, std::uint16_t port) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the column names
    std::vector<std::string> found;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const std::size_t colon = local.find(':');
        if (state == "0A" && local.substr(colon) == wanted) found.push_back(local.substr(0, colon));
    }
    return found;
}

// Nothing answers on this host's other addresses, nor on 127.0.0.2
// (loopback too, but not 127.0.0.1).
void expectUnreachableElsewhere(const std::string& bound, std::uint16_t port) {
    std::vector<std::string> others{"127.0.0.2"};
    ifaddrs* list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const sockaddr* address = entry->ifa_addr;
        if (address != nullptr && address->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                      sizeof text);
        } else if (address != nullptr && address->sa_family == AF_INET6) {
            const auto& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
            if (!IN6_IS_ADDR_LINKLOCAL(&v6)) inet_ntop(AF_INET6, &v6, text, sizeof text);
        }
        if (text[0] != '\0' && bound != text) others.emplace_back(text);
    }
    freeifaddrs(list);
    for (const std::string& other : others) {
        const int fd = sntest::connectTo(other, port);
        EXPECT_LT(fd, 0) << "reachable on " << other;
        if (fd >= 0) close(fd);
    }
}

TEST(HttpServer, ListensOnlyOnTheAddressItIsGiven) {
    Site site;
    const sncommon::HttpServer v4(at("127.0.0.1"), site.handler());
    EXPECT_EQ(listening("/proc/net/tcp", v4.port()), std::vector<std::string>{"0100007F"});
    EXPECT_TRUE(listening("/proc/net/tcp6", v4.port()).empty());
    EXPECT_TRUE(servesNow("127.0.0.1", v4.port()));
    expectUnreachableElsewhere("127.0.0.1", v4.port());

    std::ifstream inet6("/proc/net/if_inet6");
    const std::string interfaces{std::istreambuf_iterator<char>(inet6), {}};
    if (interfaces.find("00000000000000000000000000000001") == std::string::npos) {
        GTEST_SKIP() << "no IPv6 loopback on this host";
    }
    const sncommon::HttpServer v6(at("::1"), site.handler());
    EXPECT_EQ(listening("/proc/net/tcp6", v6.port()),
              std::vector<std::string>{"00000000000000000000000001000000"});
    EXPECT_TRUE(listening("/proc/net/tcp", v6.port()).empty());
    EXPECT_TRUE(servesNow("::1", v6.port()));
    expectUnreachableElsewhere("::1", v6.port());  // 127.0.0.1 among them
}

TEST(HttpServer, RefusesWhatItCannotServe) {
    Site site;
    EXPECT_THROW(sncommon::HttpServer("localhost", site.handler()), std::invalid_argument);
    EXPECT_THROW(sncommon::HttpServer(at("203.0.113.7"), site.handler()),  // not this host's
                 std::runtime_error);
    const sncommon::HttpServer first(at("127.0.0.1"), site.handler());
    const std::string taken = "127.0.0.1:" + std::to_string(first.port());
    try {
        const sncommon::HttpServer second(taken.c_str(), site.handler());
        ADD_FAILURE() << "a second server on " << taken;
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(taken + ": Address already in use"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(servesNow("127.0.0.1", first.port()));
}

}  // namespace

// An HTTP client on a bare socket, for tests that must send what no real
// client would: garbage, broken request lines, oversized requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace sntest {

// A socket connected to a numeric IPv4 or IPv6 address, or -1 when refused.
int connectTo(const std::string& address, std::uint16_t port);

// Sends what it can: a server that refuses a request may close before all
// of it is sent.
void sendAll(int fd, std::string_view bytes);

struct Received {
    std::string bytes;
    bool closed = false;  // by the server (or reset), not a silence of `timeout`
};
Received receive(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// One connection: the request sent, all that is answered (empty when
// refused).  `endWriting` says no more comes, as a client giving up would.
std::string exchange(const std::string& address, std::uint16_t port, std::string_view request,
                     bool endWriting = false);

// A request with Host and "Connection: close", then `headers` (CRLF lines).
std::string request(std::string_view target, std::string_view headers = "",
                    std::string_view method = "GET");

struct HttpReply {
    unsigned status = 0;  // 0: no status line came
    std::string head;     // status line and headers, each line ending CRLF
    std::string body;
};
HttpReply parseReply(const std::string& raw);

}  // namespace sntest

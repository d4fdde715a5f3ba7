#include "rawHttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace sntest {

namespace {

void setTimeout(int fd, int option, std::chrono::milliseconds timeout) {
    const timeval limit{static_cast<time_t>(timeout.count() / 1000),
                        static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
}

}  // namespace

int connectTo(const std::string& address, std::uint16_t port) {
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr* where = reinterpret_cast<const sockaddr*>(&v4);
    socklen_t length = sizeof v4;
    if (inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
    } else if (inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        where = reinterpret_cast<const sockaddr*>(&v6);
        length = sizeof v6;
    } else {
        return -1;
    }
    const int fd = socket(where->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    setTimeout(fd, SO_SNDTIMEO, std::chrono::seconds(5));  // bounds connect() too
    if (connect(fd, where, length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

Received receive(int fd, std::chrono::milliseconds timeout) {
    setTimeout(fd, SO_RCVTIMEO, timeout);
    Received got;
    char buffer[4096];
    for (;;) {
        const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count > 0) {
            got.bytes.append(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            got.closed = count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            return got;
        }
    }
}

std::string exchange(const std::string& address, std::uint16_t port, std::string_view bytes,
                     bool endWriting) {
    const int fd = connectTo(address, port);
    if (fd < 0) return "";
    sendAll(fd, bytes);
    if (endWriting) shutdown(fd, SHUT_WR);
    std::string reply = receive(fd).bytes;
    close(fd);
    return reply;
}

std::string request(std::string_view target, std::string_view headers, std::string_view method) {
    return std::string(method) + " " + std::string(target) +
           " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n" + std::string(headers) + "\r\n";
}

HttpReply parseReply(const std::string& raw) {
    HttpReply reply;
    const std::size_t end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return reply;
    reply.status = static_cast<unsigned>(std::atoi(raw.c_str() + 9));
    reply.head = raw.substr(0, end + 2);
    reply.body = raw.substr(end + 4);
    return reply;
}

}  // namespace sntest

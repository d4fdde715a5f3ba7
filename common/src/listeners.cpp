#include "sncommon/listeners.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "snline/hostPort.h"

namespace sncommon {

namespace {

int listenOn(const addrinfo& address) {
    const int fd = socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (address.ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    if (bind(fd, address.ai_addr, address.ai_addrlen) == 0 && listen(fd, 16) == 0) return fd;
    const int failure = errno;
    close(fd);
    errno = failure;
    return -1;
}

int listenOn(const std::string& text) {
    snline::HostPort hostPort;
    if (!snline::parseListenAddress(text.c_str(), hostPort)) {
        throw std::runtime_error("cannot listen on " + text + ": not HOST:PORT");
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(hostPort.host, hostPort.port, &hints, &found);
    if (rc != 0) throw std::runtime_error("cannot listen on " + text + ": " + gai_strerror(rc));
    const int fd = listenOn(*found);
    const int failure = errno;
    freeaddrinfo(found);
    if (fd < 0)
        throw std::runtime_error("cannot listen on " + text + ": " + std::strerror(failure));
    return fd;
}

}  // namespace

std::vector<int> openListeners(const std::vector<std::string>& addresses) {
    std::vector<int> fds;
    try {
        for (const std::string& address : addresses) fds.push_back(listenOn(address));
    } catch (...) {
        for (const int fd : fds) close(fd);
        throw;
    }
    return fds;
}

namespace {

std::string addressName(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

}  // namespace

std::string peerName(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "?";
    return addressName(address);
}

std::string localName(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "?";
    return addressName(address);
}

}  // namespace sncommon

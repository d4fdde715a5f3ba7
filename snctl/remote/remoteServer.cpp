#include "remoteServer.h"

#include "failure.h"
#include "sncommon/listeners.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace snctl {

namespace {

constexpr std::chrono::seconds kStallLimit(10);
constexpr int kPollMs = 100;
constexpr int kSendBuffer = 32 * 1024;  // what the kernel holds for a slow reader
// What the kernel takes in ahead of the node: small, so a client's bytes
// wait in its own buffer, where it sees them wait, and a client gone while
// its bytes still queue is noticed within about a second of line time.
constexpr int kReceiveBuffer = 16 * 1024;

std::string hostPortText(const snline::HostPort& where) {
    const bool v6 = std::strchr(where.host, ':') != nullptr;
    return (v6 ? "[" + std::string(where.host) + "]" : std::string(where.host)) + ":" + where.port;
}

bool inNetwork(const AllowedNetwork& network, const uint8_t* address, int family) {
    if (family != network.family) return false;
    int bits = network.bits;
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const uint8_t mask = bits >= 8 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - bits));
        if ((address[i] & mask) != (network.address[i] & mask)) return false;
    }
    return true;
}

}  // namespace

RemoteServer::RemoteServer(const BridgeOptions& options, ClientPeer& peer, std::FILE* log)
    : options_(options), peer_(peer), log_(log) {
    try {
        listener_ = sncommon::openListeners({hostPortText(*options.listen)}).front();
    } catch (const std::runtime_error& error) {
        throw DeviceError(std::string("bridge: ") + error.what(), 0);
    }
    address_ = sncommon::localName(listener_);
    // Set here, before any connection, so accepted sockets inherit it.
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
}

RemoteServer::~RemoteServer() {
    client_.reset();
    if (listener_ >= 0) close(listener_);
}

bool RemoteServer::serve(const sncommon::StopSignals& signals, const std::function<bool()>& done) {
    while (!stop_ && !done()) serveOnce(signals);
    return !stop_;
}

void RemoteServer::closeClient() {
    if (client_) dropClient("the bridge stopped", true);
}

void RemoteServer::serveOnce(const sncommon::StopSignals& signals) {
    pollfd fds[4] = {{signals.fd(), POLLIN, 0},
                     {listener_, POLLIN, 0},
                     {peer_.networkWake(), POLLIN, 0},
                     {client_ ? client_->fd() : -1, client_ ? client_->events() : short{0}, 0}};
    peer_.clearNetworkWake();
    int timeout = kPollMs;
    if (const auto due = client_ ? client_->lineDue() : std::nullopt) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*due - RemoteClient::Clock::now());
        timeout = static_cast<int>(std::clamp<long>(left.count(), 0, kPollMs));
    }
    if (poll(fds, 4, timeout) < 0 && errno != EINTR)
        throw DeviceError("bridge: cannot wait for the network", errno);
    if ((fds[0].revents & POLLIN) != 0 && signals.take() != 0) {
        stop_ = true;
        return;
    }
    if ((fds[1].revents & POLLIN) != 0) accept();
    if (client_) serveClient(fds[3].revents);
}

void RemoteServer::serveClient(short revents) {
    if (const uint16_t flags = peer_.takeErrorFlags(); flags != 0) client_->reportErrorFlags(flags);
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !client_->readSocket()) {
        dropClient(client_->why(), client_->closedInOrder());
        return;
    }
    if (!client_->writeSocket()) {
        dropClient(client_->why(), client_->closedInOrder());
        return;
    }
    client_->passOnLineIfQuiet(RemoteClient::Clock::now());
    if (client_->stalled(RemoteClient::Clock::now(), kStallLimit))
        dropClient("it has not read what the port received for 10 s", false);
}

void RemoteServer::accept() {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // gone again, or out of descriptors: the next try may do
    const std::string name = sncommon::peerName(fd);
    if (!allowed(fd)) {
        ++counts_.refused;
        std::fprintf(log_, "snctl: bridge: refused %s: not an allowed address\n", name.c_str());
        close(fd);
    } else if (client_) {
        ++counts_.refused;
        std::fprintf(log_, "snctl: bridge: refused %s: %s is connected\n", name.c_str(),
                     client_->name().c_str());
        close(fd);
    } else {
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
        ++counts_.clients;
        peer_.connect();
        client_ = std::make_unique<RemoteClient>(fd, name, peer_, !options_.raw, options_.line);
        std::fprintf(log_, "snctl: bridge: %s connected\n", name.c_str());
    }
    std::fflush(log_);
}

bool RemoteServer::allowed(int fd) const {
    if (options_.allowed.empty()) return true;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    const uint8_t* bytes = nullptr;
    if (address.ss_family == AF_INET) {
        bytes = reinterpret_cast<const uint8_t*>(
            &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr);
    } else {
        bytes = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr.s6_addr;
    }
    for (const AllowedNetwork& network : options_.allowed)
        if (inNetwork(network, bytes, address.ss_family)) return true;
    return false;
}

// The port's line goes back to what it was before this client changed it,
// after what it sent, or at once when that goes with it.
void RemoteServer::dropClient(const std::string& why, bool inOrder) {
    peer_.setWantsErrorFlags(false);
    const ClientPeer::Abandoned left = peer_.disconnect(!inOrder);
    for (const NodeAction& action : client_->restore()) peer_.pushAction(action);
    std::string dropped;
    if (left.bytes != 0 || left.actions != 0)
        dropped =
            " (dropped what it sent that the node had not taken: " + std::to_string(left.bytes) +
            " bytes, " + std::to_string(left.actions) + " line actions)";
    std::fprintf(log_, "snctl: bridge: %s left: %s%s\n", client_->name().c_str(), why.c_str(),
                 dropped.c_str());
    std::fflush(log_);
    client_.reset();
}

}  // namespace snctl

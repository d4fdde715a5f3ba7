#include "server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "clientTimeout.h"
#include "sncommon/listeners.h"

namespace snbusd {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

Server::Server(const Options& options, Bus& bus, Metrics& metrics, EventLog& log)
    : options_(options),
      bus_(bus),
      metrics_(metrics),
      log_(log),
      listeners_(sncommon::openListeners(options.listen)) {
    for (const int fd : listeners_) log_.event("listening on " + sncommon::localName(fd));
}

Server::~Server() {
    closeAll();
    for (const int fd : listeners_) ::close(fd);
}

void Server::run(const sncommon::StopSignals& signals) {
    while (serveOnce(signals)) {
    }
    for (const int fd : listeners_) ::close(fd);
    listeners_.clear();
}

// One poll over everything; false once a stop signal came.
bool Server::serveOnce(const sncommon::StopSignals& signals) {
    std::vector<pollfd> fds{{signals.fd(), POLLIN, 0}, {bus_.answersReady(), POLLIN, 0}};
    for (const int fd : listeners_) fds.push_back({fd, POLLIN, 0});
    std::vector<ClientId> order;
    for (const auto& [id, client] : clients_) {
        // A client not read (its requests at the limit) is still heard leaving.
        const short events = static_cast<short>((client.wantsToRead() ? POLLIN : POLLRDHUP) |
                                                (client.out.empty() ? 0 : POLLOUT));
        fds.push_back({client.fd, events, 0});
        order.push_back(id);
    }
    if (poll(fds.data(), fds.size(), pollTimeoutMs()) < 0 && errno != EINTR) return true;
    if (fds[0].revents & POLLIN) {
        log_.event("stopping: signal " + std::to_string(signals.take()));
        return false;
    }
    if (fds[1].revents & POLLIN) deliverAnswers();
    for (std::size_t i = 0; i < listeners_.size(); ++i)
        if (fds[2 + i].revents & POLLIN) accept(listeners_[i]);
    const std::size_t first = 2 + listeners_.size();
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto found = clients_.find(order[i]);
        if (found == clients_.end()) continue;
        const short revents = fds[first + i].revents;
        if (revents & POLLOUT) writeTo(found->second);
        if (clients_.count(order[i]) == 0) continue;
        // Answers read: the requests held back behind them.
        if ((revents & POLLOUT) && !takeRequests(found->second)) continue;
        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            readFrom(found->second);
        } else if (revents & POLLRDHUP) {
            close(order[i], "closed by the client");
        }
    }
    closeIdle();
    closeStalledReaders();
    return true;
}

int Server::pollTimeoutMs() const { return clients_.empty() ? -1 : 1000; }

void Server::accept(int listener) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const std::string peer = sncommon::peerName(fd);
    if (clients_.size() >= static_cast<std::size_t>(options_.maxClients)) {
        log_.event("turned away " + peer + ": " + std::to_string(options_.maxClients) +
                   " clients connected already");
        metrics_.connection(false);
        ::close(fd);
        return;
    }
    const ClientId id = nextId_++;
    ClientConnection& client = clients_[id];
    client.id = id;
    client.fd = fd;
    client.peer = peer;
    client.lastRequest = Clock::now();
    metrics_.connection(true);
    metrics_.setClients(clients_.size());
    log_.event("client " + std::to_string(id) + " (" + peer + ") connected");
}

void Server::readFrom(ClientConnection& client) {
    uint8_t chunk[kReadBufferLimit];
    const std::size_t room = kReadBufferLimit - std::min(kReadBufferLimit, client.in.size());
    const ssize_t got = recv(client.fd, chunk, std::max<std::size_t>(room, 1), 0);
    if (got == 0) return close(client.id, "closed by the client");
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) close(client.id, std::strerror(errno));
        return;
    }
    client.in.insert(client.in.end(), chunk, chunk + got);
    takeRequests(client);
}

// Whole requests from the client's bytes, to the bus; false when the
// connection had to go.
bool Server::takeRequests(ClientConnection& client) {
    while (client.takesRequests()) {
        Frame frame = takeFrame(client.in.data(), client.in.size());
        if (frame.status == FrameStatus::NeedMore) return true;
        if (frame.status == FrameStatus::Bad) {
            close(client.id, "not Modbus TCP: " + frame.error);
            return false;
        }
        client.in.erase(client.in.begin(),
                        client.in.begin() + static_cast<std::ptrdiff_t>(frame.consumed));
        client.lastRequest = Clock::now();
        if (asksForClientTimeout(frame.request)) {
            const ClientId id = client.id;
            answerTimeoutRequest(client, frame.request);
            if (clients_.count(id) == 0) return false;  // the write failed: gone
            continue;
        }
        ++client.inFlight;
        bus_.submit(
            Job{client.id, std::move(frame.request), client.lastRequest, client.lineTimeout});
    }
    metrics_.setWaiting(bus_.waiting());
    return true;
}

// Answered here, in turn: nothing of the client's waits for the line.
void Server::answerTimeoutRequest(ClientConnection& client, const Request& request) {
    const ClientTimeoutAnswer answer = answerClientTimeout(request, client.inFlight);
    if (answer.timeout.count() != 0) client.lineTimeout = answer.timeout;
    const std::vector<uint8_t> frame = answerFrame(request, answer.pdu);
    client.out.insert(client.out.end(), frame.begin(), frame.end());
    client.answersMoved(Clock::now(), false);
    writeTo(client);
}

void Server::writeTo(ClientConnection& client) {
    const ssize_t sent = send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (sent > 0) {
        client.out.erase(client.out.begin(), client.out.begin() + sent);
        client.answersMoved(Clock::now(), true);
    } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        close(client.id, std::strerror(errno));
    }
}

void Server::deliverAnswers() {
    for (Answer& answer : bus_.takeAnswers()) {
        const auto found = clients_.find(answer.client);
        if (found == clients_.end()) {  // gone while its request was on the line
            if (answer.fromNode) metrics_.orphanedAnswer(answer.unit);
            continue;
        }
        ClientConnection& client = found->second;
        client.out.insert(client.out.end(), answer.frame.begin(), answer.frame.end());
        client.answersMoved(Clock::now(), false);
        --client.inFlight;
        writeTo(client);
        if (clients_.count(answer.client) && !takeRequests(client)) continue;
    }
    metrics_.setWaiting(bus_.waiting());
}

void Server::closeIdle() {
    const auto now = Clock::now();
    std::vector<ClientId> idle;
    for (const auto& [id, client] : clients_)
        if (client.inFlight == 0 && now - client.lastRequest >= options_.idleTimeout)
            idle.push_back(id);
    for (const ClientId id : idle)
        close(id, "no request for " + std::to_string(options_.idleTimeout.count()) + " s");
}

// Held back by its unread answers, a client that goes on sending only fills
// TCP's buffers; one that takes none of them for the timeout is not coming
// back for them, and its place and the requests it queued go.
void Server::closeStalledReaders() {
    const auto now = Clock::now();
    std::vector<std::pair<ClientId, std::size_t>> stalled;
    for (const auto& [id, client] : clients_)
        if (client.readsNoMore(now)) stalled.emplace_back(id, client.out.size());
    for (const auto& [id, unread] : stalled)
        close(id, "it read none of its " + std::to_string(unread) + " bytes of answers for " +
                      std::to_string(kUnreadAnswersTimeout.count()) + " s");
}

void Server::close(ClientId id, const std::string& reason) {
    const auto found = clients_.find(id);
    if (found == clients_.end()) return;
    ::close(found->second.fd);
    log_.event("client " + std::to_string(id) + " (" + found->second.peer + ") closed: " + reason);
    clients_.erase(found);
    bus_.dropClient(id);
    metrics_.setClients(clients_.size());
}

void Server::closeAll() {
    deliverAnswers();
    const auto until = Clock::now() + std::chrono::seconds(1);
    for (auto& [id, client] : clients_) {
        while (!client.out.empty() && Clock::now() < until) {
            pollfd out{client.fd, POLLOUT, 0};
            if (poll(&out, 1, 100) <= 0) continue;
            const ssize_t sent =
                send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
            if (sent <= 0) break;
            client.out.erase(client.out.begin(), client.out.begin() + sent);
        }
    }
    while (!clients_.empty()) close(clients_.begin()->first, "the daemon is stopping");
}

}  // namespace snbusd

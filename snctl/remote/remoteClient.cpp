#include "remoteClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace snctl {

namespace {

constexpr std::size_t kReadChunk = 4096;
// Answers of a client that sends but never reads stop its reading here.
constexpr std::size_t kSendingLimit = 64 * 1024;
constexpr std::size_t kDataChunk = 16 * 1024;
// A client sends speed, size, parity and stop size one after the other,
// maybe in segments of their own: a line change waits this long for the
// rest of its burst, unless data or another command comes first.
constexpr std::chrono::milliseconds kBurstQuiet(20);

}  // namespace

RemoteClient::RemoteClient(int fd, std::string name, ClientPeer& peer, bool telnet,
                           const PortLine& line)
    : fd_(fd),
      name_(std::move(name)),
      peer_(peer),
      telnet_(telnet ? std::make_unique<TelnetSession>(static_cast<TelnetHandler&>(*this))
                     : nullptr),
      comPort_(line),
      lastProgress_(Clock::now()) {
    if (telnet_) telnet_->start();
}

RemoteClient::~RemoteClient() { close(fd_); }

short RemoteClient::events() const {
    short events = 0;
    if (!peer_.inboundFull() && sending_.size() < kSendingLimit) events |= POLLIN;
    if (!sending_.empty() || (!peer_.outboundEmpty() && !comPort_.suspended())) events |= POLLOUT;
    return events;
}

bool RemoteClient::readSocket() {
    uint8_t buffer[kReadChunk];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        why_ = got == 0 ? "it closed the connection" : std::string(std::strerror(errno));
        closedInOrder_ = got == 0;
        return false;
    }
    if (got < 0) return true;
    if (!telnet_) {
        peer_.pushData(buffer, static_cast<std::size_t>(got));
        return true;
    }
    telnet_->receive(buffer, static_cast<std::size_t>(got));
    return !failed_;
}

bool RemoteClient::writeSocket() {
    if (sending_.size() < kDataChunk && !comPort_.suspended())
        peer_.takeOutbound(sending_, kDataChunk);
    if (sending_.empty()) {
        lastProgress_ = Clock::now();  // nothing to send is no stall
        return true;
    }
    const ssize_t sent = send(fd_, sending_.data(), sending_.size(), MSG_NOSIGNAL);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EINTR) return true;
        why_ = std::strerror(errno);
        return false;
    }
    sending_.erase(sending_.begin(), sending_.begin() + sent);
    if (sent > 0) lastProgress_ = Clock::now();
    return true;
}

bool RemoteClient::stalled(Clock::time_point now, std::chrono::seconds limit) const {
    return now - lastProgress_ > limit;
}

void RemoteClient::reportErrorFlags(uint16_t flags) {
    if (!telnet_ || !agreed_) return;
    const uint8_t state = comPort_.lineState(flags);
    if (state != 0)
        telnet_->sendComPort(comport::kNotifyLineState + comport::kAnswerOffset, &state, 1);
}

std::vector<NodeAction> RemoteClient::restore() const { return comPort_.restore(); }

void RemoteClient::telnetData(const uint8_t* data, std::size_t length) {
    if (failed_) return;
    passOnLine();  // bytes after a line change go out on the new line
    peer_.pushData(data, length);
}

void RemoteClient::telnetSend(const uint8_t* data, std::size_t length) {
    sending_.insert(sending_.end(), data, data + length);
}

void RemoteClient::comPortCommand(uint8_t command, const uint8_t* value, std::size_t length) {
    if (failed_) return;
    std::vector<NodeAction> actions;
    const ComPortAnswer answer = comPort_.command(command, value, length, actions);
    if (command >= comport::kSetBaudRate && command <= comport::kSetStopSize)
        lineChangedAt_ = Clock::now();  // passed on when the burst is over
    for (const NodeAction& action : actions) {
        // Line changes before a break or purge go first, in order.
        passOnLine();
        if (action.kind == NodeAction::Kind::PurgeTransmit) peer_.dropInbound();
        if (action.kind == NodeAction::Kind::PurgeReceive) peer_.dropOutbound();
        peer_.pushAction(action);
    }
    peer_.setWantsErrorFlags(comPort_.wantsLineState());
    if (answer.command != 0)
        telnet_->sendComPort(answer.command, answer.value.data(), answer.value.size());
}

void RemoteClient::comPortAgreed() {
    if (agreed_) return;
    agreed_ = true;
    const uint8_t modem = comPort_.modemState();
    telnet_->sendComPort(comport::kNotifyModemState + comport::kAnswerOffset, &modem, 1);
}

void RemoteClient::telnetBreak() {
    if (!failed_) peer_.pushAction({NodeAction::Kind::BreakPulse, {}});
}

void RemoteClient::telnetError(const char* message) {
    failed_ = true;
    why_ = std::string("it broke the Telnet protocol: ") + message;
}

std::optional<RemoteClient::Clock::time_point> RemoteClient::lineDue() const {
    if (!lineChangedAt_) return std::nullopt;
    return *lineChangedAt_ + kBurstQuiet;
}

void RemoteClient::passOnLineIfQuiet(Clock::time_point now) {
    if (lineChangedAt_ && now >= *lineChangedAt_ + kBurstQuiet) passOnLine();
}

void RemoteClient::passOnLine() {
    lineChangedAt_.reset();
    if (const auto line = comPort_.takeLine()) peer_.pushAction({NodeAction::Kind::SetLine, *line});
}

}  // namespace snctl

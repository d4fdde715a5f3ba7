#include "clientPeer.h"

#include "telnetSession.h"

#include <poll.h>

#include <algorithm>

namespace snctl {

namespace {

constexpr std::size_t kActionKinds = 6;

}  // namespace

ClientPeer::ClientPeer(bool telnet, bool keep) : telnet_(telnet), keep_(keep) {
    // Never grows past one of each kind: no allocation while a client floods.
    actions_.reserve(kActionKinds);
}

PeerWait ClientPeer::inputReady() const { return {inputReady_.fd(), POLLIN}; }

PeerWait ClientPeer::outputRoom() const { return {outputRoom_.fd(), POLLIN}; }

std::size_t ClientPeer::takeInput(uint8_t* buffer, std::size_t room,
                                  std::optional<NodeAction>& action) {
    inputReady_.clear();
    std::lock_guard lock(mutex_);
    const bool wasFull = inbound_.size() >= kInboundLimit;
    std::size_t count = std::min(room, inbound_.size());
    if (!actions_.empty()) count = std::min(count, actions_.front().at);
    std::copy_n(inbound_.begin(), count, buffer);
    inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(count));
    for (PendingAction& pending : actions_) pending.at -= count;
    if (!actions_.empty() && actions_.front().at == 0) {
        action = actions_.front().action;
        actions_.erase(actions_.begin());
        if (action->kind == NodeAction::Kind::SetLine) lineHandedOver_ = action->line;
    }
    if (wasFull && inbound_.size() < kInboundLimit) networkWake_.notify();
    // More may be waiting behind the action just handed over.
    if (!inbound_.empty() || !actions_.empty()) inputReady_.notify();
    return count;
}

std::size_t ClientPeer::giveOutput(const uint8_t* data, std::size_t length) {
    outputRoom_.clear();
    std::lock_guard lock(mutex_);
    if (!connected_ && !keep_) {
        dropped_ += length;
        return length;
    }
    std::size_t taken = 0;
    while (taken < length && outbound_.size() < kOutboundLimit) {
        const std::size_t chunk = std::min(length - taken, kOutboundLimit - outbound_.size());
        if (telnet_) {
            TelnetSession::escapeData(data + taken, chunk, outbound_);
        } else {
            outbound_.insert(outbound_.end(), data + taken, data + taken + chunk);
        }
        taken += chunk;
    }
    if (!connected_) {
        // Held for the next client as far as there is room; the rest goes.
        dropped_ += length - taken;
        return length;
    }
    if (taken > 0) networkWake_.notify();
    return taken;
}

void ClientPeer::errorFlags(uint16_t flags) {
    std::lock_guard lock(mutex_);
    errorFlags_ = static_cast<uint16_t>(errorFlags_ | flags);
    networkWake_.notify();
}

uint16_t ClientPeer::takeErrorFlags() {
    std::lock_guard lock(mutex_);
    const uint16_t flags = errorFlags_;
    errorFlags_ = 0;
    return flags;
}

void ClientPeer::connect() {
    std::lock_guard lock(mutex_);
    connected_ = true;
    errorFlags_ = 0;
}

// A client that closed its connection has what it sent before delivered,
// as a serial port sends what was written before its close; the queues are
// bounded, so that ends soon.  One that was reset or closed for a fault
// leaves nothing: the next client starts clean.
ClientPeer::Abandoned ClientPeer::disconnect(bool dropQueued) {
    std::lock_guard lock(mutex_);
    connected_ = false;
    dropped_ += outbound_.size();
    outbound_.clear();
    outputRoom_.notify();
    if (!dropQueued) return {};
    const Abandoned abandoned{inbound_.size(), actions_.size()};
    if (inbound_.size() >= kInboundLimit) networkWake_.notify();
    inbound_.clear();
    inbound_.shrink_to_fit();
    actions_.clear();
    return abandoned;
}

bool ClientPeer::inboundFull() const {
    std::lock_guard lock(mutex_);
    return inbound_.size() >= kInboundLimit;
}

void ClientPeer::pushData(const uint8_t* data, std::size_t length) {
    if (length == 0) return;
    {
        std::lock_guard lock(mutex_);
        inbound_.insert(inbound_.end(), data, data + length);
    }
    inputReady_.notify();
}

void ClientPeer::pushAction(const NodeAction& action) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(actions_, [&](const PendingAction& pending) {
            return pending.action.kind == action.kind;
        });
        actions_.push_back({inbound_.size(), action});
    }
    inputReady_.notify();
}

void ClientPeer::dropInbound() {
    std::lock_guard lock(mutex_);
    inbound_.clear();
    for (PendingAction& pending : actions_) pending.at = 0;
}

void ClientPeer::dropOutbound() {
    std::lock_guard lock(mutex_);
    outbound_.clear();
    outputRoom_.notify();
}

void ClientPeer::takeOutbound(std::vector<uint8_t>& out, std::size_t max) {
    std::lock_guard lock(mutex_);
    const std::size_t count = std::min(max, outbound_.size());
    out.insert(out.end(), outbound_.begin(),
               outbound_.begin() + static_cast<std::ptrdiff_t>(count));
    outbound_.erase(outbound_.begin(), outbound_.begin() + static_cast<std::ptrdiff_t>(count));
    if (count > 0) outputRoom_.notify();
}

bool ClientPeer::outboundEmpty() const {
    std::lock_guard lock(mutex_);
    return outbound_.empty();
}

std::optional<PortLine> ClientPeer::lineHandedOver() const {
    std::lock_guard lock(mutex_);
    return lineHandedOver_;
}

uint64_t ClientPeer::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace snctl

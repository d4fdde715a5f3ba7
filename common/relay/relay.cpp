#include "relay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace snrelay {

namespace {

// The time one full receive block takes on the port's line, within 20 to
// 50 ms: polling at that pace keeps up with the fastest line.
std::chrono::milliseconds idleWaitWhileTransmitting(const PortLine& line) {
    const long blockMs = long{SN_BLOCK_BYTES} * line.bitsPerByte() * 1000 / line.baud;
    return std::chrono::milliseconds(std::clamp(blockMs, 20L, 50L));
}

}  // namespace

Relay::Relay(SnSerial* port, RelayPeer& peer, const PortLine& line, const std::string& who)
    : port_(port),
      health_(port->port, stderr, who),
      transmit_(port, peer, stop_, health_, line),
      receive_(port, peer, stop_, health_, transmit_, idleWaitWhileTransmitting(line)) {}

Relay::~Relay() {
    stop_.raise();
    if (transmitter_.joinable()) transmitter_.join();
    if (receiver_.joinable()) receiver_.join();
}

template <typename Side>
void Relay::runSide(Side& side) {
    try {
        side.run();
    } catch (const DeviceError& error) {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = error;
        stop_.raise();
    }
}

void Relay::start() {
    transmitter_ = std::thread([this] { runSide(transmit_); });
    receiver_ = std::thread([this] { runSide(receive_); });
}

Relayed Relay::finish() {
    stop_.raise();
    if (transmitter_.joinable()) transmitter_.join();
    if (receiver_.joinable()) receiver_.join();
    if (error_) throw *error_;
    Relayed relayed{transmit_.delivered(), receive_.delivered(), health_.down()};
    snSerGetUnknown(port_, &relayed.unknownFromNode, &relayed.unknownToNode);
    return relayed;
}

}  // namespace snrelay

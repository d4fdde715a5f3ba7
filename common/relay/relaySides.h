// The two directions of a relay, each run by its own thread so that the
// library's pauses on one side (a partly taken chunk waits 50 ms) never
// stall the other.
#pragma once

#include "nodeHealth.h"
#include "relayPeer.h"
#include "sncommon/linePacer.h"
#include "stopEvent.h"

#include "snLib.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace snrelay {

// Bytes held for the node at most; while full, the peer is not read, so the
// writing client is held back by its own side instead of losing data.
inline constexpr std::size_t kTransmitQueueSize = 4096;

// peer -> node, with the peer's node actions in order with its bytes.
class TransmitSide {
public:
    TransmitSide(SnSerial* port, RelayPeer& peer, const StopEvent& stop, NodeHealth& health,
                 const PortLine& line);

    // Until stop; then one last, bounded attempt to deliver what is queued.
    // Throws DeviceError when the peer fails.
    void run();
    uint64_t delivered() const { return delivered_.load(); }
    // Bytes dropped by a purge before they reached the node.
    uint64_t purged() const { return purged_.load(); }
    // True while bytes wait for the node.
    bool busy() const { return busy_.load(); }

private:
    void finish();
    void fillFromPeer();
    // Waits until the line has room for the next chunk; false if it must
    // wait on (the caller loops, reading the peer meanwhile).
    bool lineReady();
    void sendQueued(std::size_t count);
    // The queue's first `n` bytes reached the node.
    void takeFromQueue(std::size_t n);
    void perform(const NodeAction& action);
    // Until what the node was handed has left it on its line.
    void waitUntilSent();
    bool setLine(const PortLine& line);
    bool control(int status, const char* what);  // true when the node did it

    SnSerial* port_;
    RelayPeer& peer_;
    const StopEvent& stop_;
    NodeHealth& health_;
    PortLine line_;
    sncommon::LinePacer pacer_;
    std::array<uint8_t, kTransmitQueueSize> queue_{};
    std::size_t used_ = 0;
    std::optional<NodeAction> action_;  // waits for the bytes before it
    std::atomic<uint64_t> delivered_{0};
    std::atomic<uint64_t> purged_{0};
    std::atomic<bool> busy_{false};
};

// node -> peer.
class ReceiveSide {
public:
    // While `transmit` is busy, idle polls may come less often (each takes
    // line time from the transmit blocks), but at most `idleWaitWhileTransmitting`
    // apart: the node's receive buffer must not fill meanwhile.
    ReceiveSide(SnSerial* port, RelayPeer& peer, const StopEvent& stop, NodeHealth& health,
                const TransmitSide& transmit, std::chrono::milliseconds idleWaitWhileTransmitting)
        : port_(port),
          peer_(peer),
          stop_(stop),
          health_(health),
          transmit_(transmit),
          idleWaitWhileTransmitting_(idleWaitWhileTransmitting) {}

    // Until stop.  Throws DeviceError when the peer fails.
    void run();
    uint64_t delivered() const { return delivered_.load(); }

private:
    // Polls the node once; the count of bytes it gave.
    std::size_t pollNode(uint8_t* buffer, bool flowing);
    void handOver(const uint8_t* data, std::size_t length);
    void checkErrorFlags();

    SnSerial* port_;
    RelayPeer& peer_;
    const StopEvent& stop_;
    NodeHealth& health_;
    const TransmitSide& transmit_;
    std::chrono::milliseconds idleWaitWhileTransmitting_;
    std::atomic<uint64_t> delivered_{0};
    std::chrono::steady_clock::time_point nextFlagCheck_{};
};

}  // namespace snrelay

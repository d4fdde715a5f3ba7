// The two directions of a bridge, each run by its own thread so that the
// library's pauses on one side (a partly taken chunk waits 50 ms) never
// stall the other.
#pragma once

#include "nodeHealth.h"
#include "sncommon/linePacer.h"
#include "stopEvent.h"

#include "snLib.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace snctl {

// Bytes held for the node at most; while full, the pty is not read, so the
// writing client is held back by the terminal instead of losing data.
inline constexpr std::size_t kTransmitQueueSize = 4096;

// pty -> node.
class TransmitSide {
public:
    TransmitSide(SnSerial* port, int master, const StopEvent& stop, NodeHealth& health,
                 sncommon::LinePacer pacer)
        : port_(port), master_(master), stop_(stop), health_(health), pacer_(pacer) {}

    // Until stop; then one last, bounded attempt to deliver what is queued.
    // Throws DeviceError when the pty fails.
    void run();
    uint64_t delivered() const { return delivered_.load(); }
    // True while bytes wait for the node.
    bool busy() const { return busy_.load(); }

private:
    void fillFromPty();
    // Waits until the line has room for the next chunk; false if it must
    // wait on (the caller loops, reading the pty meanwhile).
    bool lineReady();
    void sendQueued(std::size_t count);

    SnSerial* port_;
    int master_;
    const StopEvent& stop_;
    NodeHealth& health_;
    sncommon::LinePacer pacer_;
    std::array<uint8_t, kTransmitQueueSize> queue_{};
    std::size_t used_ = 0;
    std::atomic<uint64_t> delivered_{0};
    std::atomic<bool> busy_{false};
};

// node -> pty.
class ReceiveSide {
public:
    // While `transmit` is busy, idle polls may come less often (each takes
    // line time from the transmit blocks), but at most `idleWaitWhileTransmitting`
    // apart: the node's receive buffer must not fill meanwhile.
    ReceiveSide(SnSerial* port, int master, const StopEvent& stop, NodeHealth& health,
                const TransmitSide& transmit, std::chrono::milliseconds idleWaitWhileTransmitting)
        : port_(port),
          master_(master),
          stop_(stop),
          health_(health),
          transmit_(transmit),
          idleWaitWhileTransmitting_(idleWaitWhileTransmitting) {}

    // Until stop.  Throws DeviceError when the pty fails.
    void run();
    uint64_t delivered() const { return delivered_.load(); }

private:
    // Polls the node once; the count of bytes it gave.
    std::size_t pollNode(uint8_t* buffer, bool flowing);
    void writeToPty(const uint8_t* data, std::size_t length);

    SnSerial* port_;
    int master_;
    const StopEvent& stop_;
    NodeHealth& health_;
    const TransmitSide& transmit_;
    std::chrono::milliseconds idleWaitWhileTransmitting_;
    std::atomic<uint64_t> delivered_{0};
};

}  // namespace snctl

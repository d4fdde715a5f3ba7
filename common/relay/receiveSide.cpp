// node -> peer: large reads while data flows, a gentle pace when idle.
#include "relaySides.h"

#include "portReader.h"
#include "sncommon/deviceFailure.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

namespace snrelay {

namespace {

using std::chrono::milliseconds;

constexpr uint32_t kIdleReadCount = 20;  // a short block while nothing flows
constexpr milliseconds kFirstIdleWait(1);
constexpr milliseconds kLongestIdleWait(20);
constexpr milliseconds kFailureBackoff(200);
constexpr milliseconds kOutputWait(200);
constexpr milliseconds kLastWrite(2000);  // after a stop, for what is left
constexpr milliseconds kFlagInterval(500);
// Overrun, parity, framing and break: the flags a reader of the line hears of.
constexpr uint16_t kLineErrorFlags = 0x1E;

}  // namespace

void ReceiveSide::run() {
    uint8_t buffer[kFullBlock];
    bool flowing = false;
    milliseconds idleWait = kFirstIdleWait;
    while (!stop_.raised()) {
        checkErrorFlags();
        const std::size_t got = pollNode(buffer, flowing);
        if (got != 0) {
            handOver(buffer, got);
            flowing = true;
            idleWait = kFirstIdleWait;
            continue;
        }
        flowing = false;
        stop_.sleep(idleWait);
        idleWait = std::min(idleWait * 2,
                            transmit_.busy() ? idleWaitWhileTransmitting_ : kLongestIdleWait);
    }
}

std::size_t ReceiveSide::pollNode(uint8_t* buffer, bool flowing) {
    try {
        const std::size_t got = readOnce(port_, buffer, flowing ? kFullBlock : kIdleReadCount);
        health_.answered();
        return got;
    } catch (const DeviceError& error) {
        health_.failed(error);
        stop_.sleep(kFailureBackoff);
        return 0;
    }
}

// Each flag is handed over once: what was read is cleared on the node.
void ReceiveSide::checkErrorFlags() {
    if (!peer_.wantsErrorFlags()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextFlagCheck_) return;
    nextFlagCheck_ = now + kFlagInterval;
    uint16_t flags = 0;
    if (snSerGetErrFlags(port_, &flags) != 0) return;
    flags &= kLineErrorFlags;
    if (flags == 0) return;
    snSerClearErrFlags(port_, flags);
    peer_.errorFlags(flags);
}

// A peer that does not take the node's data holds it back here.  After a
// stop what is left still gets a while to go out; what even that cannot
// hand over is said, never dropped in silence.
void ReceiveSide::handOver(const uint8_t* data, std::size_t length) {
    std::size_t written = 0;
    std::optional<std::chrono::steady_clock::time_point> giveUpAt;
    while (written < length) {
        if (stop_.raised() && !giveUpAt) giveUpAt = std::chrono::steady_clock::now() + kLastWrite;
        if (giveUpAt && std::chrono::steady_clock::now() >= *giveUpAt) break;
        const std::size_t n = peer_.giveOutput(data + written, length - written);
        if (n > 0) {
            written += n;
            delivered_ += n;
            continue;
        }
        const PeerWait room = peer_.outputRoom();
        if (giveUpAt) {
            pollfd out{room.fd, room.events, 0};
            poll(&out, 1, static_cast<int>(kOutputWait.count()));
        } else {
            stop_.waitFor(room.fd, room.events, kOutputWait);
        }
    }
    if (written < length) {
        std::fprintf(stderr,
                     "snctl: bridge: %zu bytes received from the node on virtual port %u could not "
                     "be handed over: nobody read them\n",
                     length - written, static_cast<unsigned>(port_->port));
    }
}

}  // namespace snrelay

// node -> pty: large reads while data flows, a gentle pace when idle.
#include "bridgeSides.h"

#include "failure.h"
#include "portReader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>

namespace snctl {

namespace {

using std::chrono::milliseconds;

constexpr uint32_t kIdleReadCount = 20;  // a short block while nothing flows
constexpr milliseconds kFirstIdleWait(1);
constexpr milliseconds kLongestIdleWait(20);
constexpr milliseconds kFailureBackoff(200);
constexpr milliseconds kOutputWait(200);
constexpr milliseconds kLastWrite(2000);  // after a stop, for what is left

}  // namespace

void ReceiveSide::run() {
    uint8_t buffer[kFullBlock];
    bool flowing = false;
    milliseconds idleWait = kFirstIdleWait;
    while (!stop_.raised()) {
        const std::size_t got = pollNode(buffer, flowing);
        if (got != 0) {
            writeToPty(buffer, got);
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

// A client that does not read holds the node's data back here.  After a
// stop what is left still gets a while to go out; what even that cannot
// hand over is said, never dropped in silence.
void ReceiveSide::writeToPty(const uint8_t* data, std::size_t length) {
    std::size_t written = 0;
    std::optional<std::chrono::steady_clock::time_point> giveUpAt;
    while (written < length) {
        if (stop_.raised() && !giveUpAt) giveUpAt = std::chrono::steady_clock::now() + kLastWrite;
        if (giveUpAt && std::chrono::steady_clock::now() >= *giveUpAt) break;
        const ssize_t n = write(master_, data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            delivered_ += static_cast<uint64_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw DeviceError("cannot write the pseudo-terminal", errno);
        } else if (giveUpAt) {
            pollfd out{master_, POLLOUT, 0};
            poll(&out, 1, static_cast<int>(kOutputWait.count()));
        } else {
            stop_.waitFor(master_, POLLOUT, kOutputWait);
        }
    }
    if (written < length) {
        std::fprintf(stderr,
                     "snctl: bridge: %zu bytes received from the node on virtual port %u could not "
                     "be handed over: nobody read the pseudo-terminal\n",
                     length - written, static_cast<unsigned>(port_->port));
    }
}

}  // namespace snctl

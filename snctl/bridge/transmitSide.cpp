// pty -> node: a bounded queue filled from the pty and handed to the node
// as fast as it takes it.
#include "bridgeSides.h"

#include "failure.h"
#include "portReader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace snctl {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kIdleWait(200);  // bounds the time to notice stop
constexpr milliseconds kFailureBackoff(200);

}  // namespace

void TransmitSide::run() {
    while (!stop_.raised()) {
        if (used_ < queue_.size()) fillFromPty();
        busy_.store(used_ != 0);
        if (used_ == 0) {
            stop_.waitFor(master_, POLLIN, kIdleWait);
            continue;
        }
        if (lineReady())
            sendQueued(std::min(used_, pacer_.allowance(sncommon::LinePacer::Clock::now())));
    }
    if (used_ != 0 && !health_.down()) sendQueued(used_);
}

bool TransmitSide::lineReady() {
    const std::size_t chunk = std::min<std::size_t>(used_, kFullBlock);
    const milliseconds wait = pacer_.waitFor(chunk, sncommon::LinePacer::Clock::now());
    if (wait.count() == 0) return true;
    // Only look at the pty while there is room for what it has.
    stop_.waitFor(used_ < queue_.size() ? master_ : -1, POLLIN, wait);
    return false;
}

void TransmitSide::fillFromPty() {
    const ssize_t got = read(master_, queue_.data() + used_, queue_.size() - used_);
    if (got > 0) {
        used_ += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
        // EIO would only mean no slave is open, which the kept slave rules out.
        throw DeviceError("cannot read the pseudo-terminal", errno);
    }
}

void TransmitSide::sendQueued(std::size_t count) {
    errno = 0;
    // snSerWrite takes exactly a prefix: the rest stays queued in order.
    const int taken = snSerWrite(port_, queue_.data(), static_cast<uint32_t>(count));
    const int failure = errno;
    if (taken > 0) {
        const auto n = static_cast<std::size_t>(taken);
        std::memmove(queue_.data(), queue_.data() + n, used_ - n);
        used_ -= n;
        delivered_ += n;
        pacer_.spent(n);
        health_.answered();
        return;
    }
    if (failure != 0) {
        health_.failed(
            DeviceError("cannot write virtual port " + std::to_string(port_->port), failure));
        stop_.sleep(kFailureBackoff);
    }
    // Otherwise the node answered but kept its buffer full; the library has
    // already waited for it, so simply try again.
}

}  // namespace snctl

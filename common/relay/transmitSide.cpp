// peer -> node: a bounded queue filled from the peer and handed to the node
// as fast as its line takes it; the peer's node actions wait for the bytes
// queued before them.
#include "relaySides.h"

#include "portReader.h"
#include "sncommon/deviceFailure.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace snrelay {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kIdleWait(200);  // bounds the time to notice stop
constexpr milliseconds kFailureBackoff(200);
constexpr uint32_t kDrainBudget = 50;    // hundredths, after the line time has passed
constexpr uint16_t kBreakPulseMs = 250;  // a Telnet BREAK has no length of its own
constexpr int kFinishRounds = 4;         // a leaving client's restore is two actions
constexpr milliseconds kLongestFinalWait(2000);

sncommon::LinePacer pacerFor(const PortLine& line) {
    return sncommon::LinePacer(line.baud, line.bitsPerByte(), sncommon::LinePacer::Clock::now());
}

}  // namespace

TransmitSide::TransmitSide(SnSerial* port, RelayPeer& peer, const StopEvent& stop,
                           NodeHealth& health, const PortLine& line)
    : port_(port), peer_(peer), stop_(stop), health_(health), line_(line), pacer_(pacerFor(line)) {}

void TransmitSide::run() {
    while (!stop_.raised()) {
        if (!action_ && used_ < queue_.size()) fillFromPeer();
        busy_.store(used_ != 0);
        if (action_ && (used_ == 0 || action_->kind == NodeAction::Kind::PurgeTransmit)) {
            const NodeAction action = *action_;
            action_.reset();
            perform(action);
            continue;
        }
        if (used_ == 0) {
            const PeerWait wait = peer_.inputReady();
            stop_.waitFor(wait.fd, wait.events, kIdleWait);
            continue;
        }
        if (lineReady())
            sendQueued(std::min(used_, pacer_.allowance(sncommon::LinePacer::Clock::now())));
    }
    finish();
}

// After a stop: what is queued goes out once more, and the peer's last
// line actions (a leaving client's line restored, its break ended) still
// reach the port, after those bytes.
void TransmitSide::finish() {
    if (health_.down()) return;
    if (used_ != 0) sendQueued(used_);
    for (int round = 0; round < kFinishRounds && used_ == 0; ++round) {
        if (!action_) fillFromPeer();
        if (used_ != 0) sendQueued(used_);
        if (!action_) break;
        const NodeAction action = *action_;
        action_.reset();
        if (action.kind == NodeAction::Kind::SetLine || action.kind == NodeAction::Kind::BreakOff)
            perform(action);
    }
}

bool TransmitSide::lineReady() {
    const std::size_t chunk = std::min<std::size_t>(used_, kFullBlock);
    const milliseconds wait = pacer_.waitFor(chunk, sncommon::LinePacer::Clock::now());
    if (wait.count() == 0) return true;
    // Only look at the peer while there is room for what it has.
    const PeerWait input = peer_.inputReady();
    const bool room = used_ < queue_.size() && !action_;
    stop_.waitFor(room ? input.fd : -1, input.events, wait);
    return false;
}

void TransmitSide::fillFromPeer() {
    used_ += peer_.takeInput(queue_.data() + used_, queue_.size() - used_, action_);
}

void TransmitSide::sendQueued(std::size_t count) {
    errno = 0;
    // What a failed write's chunk left in doubt is settled first: the bytes
    // the node took after all leave the queue instead of going twice.
    const int takenLate = snSerWriteSettle(port_);
    if (takenLate > 0) takeFromQueue(static_cast<std::size_t>(takenLate));
    count = std::min(count, used_);
    // snSerWrite takes exactly a prefix: the rest stays queued in order.
    const int taken = takenLate < 0 || count == 0
                          ? 0
                          : snSerWrite(port_, queue_.data(), static_cast<uint32_t>(count));
    const int failure = errno;
    if (taken > 0 || takenLate > 0) {
        takeFromQueue(static_cast<std::size_t>(std::max(taken, 0)));
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

void TransmitSide::takeFromQueue(std::size_t n) {
    n = std::min(n, used_);
    std::memmove(queue_.data(), queue_.data() + n, used_ - n);
    used_ -= n;
    delivered_ += n;
    pacer_.spent(n);
}

void TransmitSide::perform(const NodeAction& action) {
    using Kind = NodeAction::Kind;
    bool done = false;
    switch (action.kind) {
        case Kind::SetLine:
            waitUntilSent();
            done = setLine(action.line);
            break;
        case Kind::BreakOn:
            waitUntilSent();
            done = control(snSerSetBreak(port_, 1), "start a break on");
            break;
        case Kind::BreakOff:
            done = control(snSerSetBreak(port_, 0), "end the break on");
            break;
        case Kind::BreakPulse:
            waitUntilSent();
            done = control(snSerBreak(port_, kBreakPulseMs), "send a break on");
            break;
        case Kind::PurgeReceive:
            done = control(snSerIFlush(port_), "flush the receive side of");
            break;
        case Kind::PurgeTransmit:
            purged_ += used_;
            used_ = 0;
            done = control(snSerOFlush(port_), "flush the transmit side of");
            pacer_ = pacerFor(line_);
            break;
    }
    peer_.actionDone(action, done);
}

// The pacer knows how long the node needs for what it was handed; the
// node's busy flag then covers what the estimate missed.
void TransmitSide::waitUntilSent() {
    const auto burst = static_cast<std::size_t>(sncommon::LinePacer::kBurst);
    const milliseconds wait = pacer_.waitFor(burst, sncommon::LinePacer::Clock::now());
    if (stop_.raised()) {
        // Finishing: bounded by the line time of what was handed over.
        std::this_thread::sleep_for(std::min(wait, kLongestFinalWait));
    } else if (wait.count() > 0) {
        stop_.sleep(wait);
        if (stop_.raised()) return;
    }
    snSerDrain(port_, kDrainBudget);
}

bool TransmitSide::setLine(const PortLine& line) {
    const bool done =
        control(snSerInit(port_, static_cast<int>(line.baud), line.parity, line.stopBits),
                "set the line of");
    line_ = line;
    pacer_ = pacerFor(line);
    return done;
}

bool TransmitSide::control(int status, const char* what) {
    if (status == 0) {
        health_.answered();
        return true;
    }
    health_.failed(DeviceError(
        std::string("cannot ") + what + " virtual port " + std::to_string(port_->port), errno));
    return false;
}

}  // namespace snrelay

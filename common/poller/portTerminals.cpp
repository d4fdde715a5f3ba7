// The relays of a node's terminal pages: one per port while a page that
// types is open on it.  What the pages typed belongs to them: what is
// still waiting when the last one leaves is dropped and counted, and a
// line change shows as set only once the relay did it.
#include <snLib.h>

#include <algorithm>
#include <cstdio>

#include "nodePoller.h"

namespace snpoll {

namespace {

// A line nobody has set since the program started is left as it is; the relay
// paces what it sends as if it were this (the node holds back the rest).
constexpr snrelay::PortLine kAssumedLine{115200, 'N', 1};

std::string lineText(const snrelay::PortLine& line) {
    return std::to_string(line.baud) + " " + line.parity + std::to_string(line.stopBits);
}

}  // namespace

// A relay whose pages all left stops, even when a new page came meanwhile:
// the new page gets a relay of its own, with nothing of the old one's.
void NodePoller::syncTerminals() {
    for (std::size_t p = 0; p < kPorts; ++p) {
        const bool wanted = feeds_[p]->viewers() > 0;
        const bool stale = relays_[p] && feeds_[p]->generation() != relayGeneration_[p];
        if (relays_[p] && (!wanted || stale)) stopTerminal(p);
        if (wanted && !relays_[p]) startTerminal(p);
    }
}

// With a port handle of its own (the library counts the opens of a port).
void NodePoller::startTerminal(std::size_t p) {
    if (!ensureOpen()) return;
    SnSerial* port = snOpenSerial(node_, static_cast<uint16_t>(p));
    if (!call(port != nullptr ? 0 : -1)) return;  // tried again next round
    if (!restoreLine(p, port)) {
        snCloseSerial(port);
        return;
    }
    terminalPorts_[p] = port;
    relayGeneration_[p] = feeds_[p]->relayStarted();
    relays_[p] = std::make_unique<snrelay::Relay>(port, *feeds_[p], lineOf(p), logName_);
    // A device gone is said once by the poller, not by every relay on it.
    if (waitsForDevice_) relays_[p]->ownerWaitsForDevice();
    relays_[p]->start();
    std::lock_guard<std::mutex> lock(mutex_);
    status_.ports[p].terminal = true;
}

void NodePoller::stopTerminal(std::size_t p, const char* why) {
    const uint64_t handed = feeds_[p]->relayEnded();
    try {
        relays_[p]->finish();
    } catch (const sncommon::DeviceError& error) {
        std::fprintf(stderr, "%s: terminal on port %zu: %s\n", logName_.c_str(), p,
                     sncommon::describeDeviceError(error).c_str());
    }
    // What the relay held and the node never took goes with it.
    const uint64_t unsent = handed - std::min(handed, relays_[p]->toNode());
    relays_[p].reset();
    snCloseSerial(terminalPorts_[p]);
    terminalPorts_[p] = nullptr;
    const uint64_t dropped = feeds_[p]->takeDropped() + unsent;
    if (dropped != 0)
        std::fprintf(stderr,
                     "%s: terminal on port %zu stopped: %llu typed bytes the node had "
                     "not taken dropped\n",
                     logName_.c_str(), p, static_cast<unsigned long long>(dropped));
    std::lock_guard<std::mutex> lock(mutex_);
    status_.ports[p].terminal = false;
    if (pendingLine_[p]) {
        status_.lastAction = "port " + std::to_string(p) + " line " + lineText(*pendingLine_[p]) +
                             ": not set, " + why;
        status_.lastActionPort = static_cast<int>(p);
        std::fprintf(stderr, "%s: %s\n", logName_.c_str(), status_.lastAction.c_str());
        pendingLine_[p].reset();
    }
}

snrelay::PortLine NodePoller::lineOf(std::size_t p) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_.ports[p].lineKnown ? status_.ports[p].line : kAssumedLine;
}

// With a terminal open the change goes through its relay, after the bytes
// typed before it, so the relay paces by the new line from then on; it is
// shown as set once the relay did it.
bool NodePoller::setLine(std::size_t p, SnSerial* port, const snrelay::PortLine& line) {
    if (relays_[p]) {
        snrelay::NodeAction action;
        action.kind = snrelay::NodeAction::Kind::SetLine;
        action.line = line;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pendingLine_[p] = line;
        }
        feeds_[p]->act(action);
        return true;
    }
    const bool done =
        call(snSerInit(port, static_cast<int>(line.baud), line.parity, line.stopBits));
    if (done) lineSet(p, line);
    return done;
}

void NodePoller::lineSet(std::size_t p, const snrelay::PortLine& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.ports[p].lineKnown = true;
    status_.ports[p].line = line;
}

// On the relay's transmit thread.
void NodePoller::relayActionDone(std::size_t p, const snrelay::NodeAction& action, bool done) {
    if (action.kind != snrelay::NodeAction::Kind::SetLine) return;
    if (done) lineSet(p, action.line);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pendingLine_[p] == action.line) pendingLine_[p].reset();
        status_.lastAction = "port " + std::to_string(p) + " line " + lineText(action.line) +
                             (done ? ": done" : ": failed");
        status_.lastActionPort = static_cast<int>(p);
    }
    changed_();
}

}  // namespace snpoll

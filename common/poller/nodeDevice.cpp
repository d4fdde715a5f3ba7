// The node's device: opened when first needed, and tried again each second
// while it cannot be.  A serial device that went away (an adapter pulled
// out) leaves every handle on it dead for good, so they are let go of, the
// pages see the node down, and the device is opened anew once it is back;
// the terminal pages still open get relays of their own again.
#include <snLib.h>

#include <cstdio>

#include "nodePoller.h"
#include "sncommon/deviceGone.h"

namespace snpoll {

bool NodePoller::ensureOpen() {
    if (node_ != nullptr) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextOpen_) return false;
    nextOpen_ = now + sncommon::kDeviceRetryEvery;
    if (deviceGone_ && !sncommon::mayReopenDevice(target_.device)) return false;
    node_ = openSensorNode(target_.device.c_str(), target_.baud, target_.slave);
    if (node_ == nullptr) return false;
    if (deviceGone_) {
        deviceGone_ = false;
        std::fprintf(stderr, "%s: %s\n", logName_.c_str(),
                     sncommon::deviceBackSentence(target_.device).c_str());
    }
    return true;
}

// The poller's last call, or a terminal's relay, failed as a device fails
// that is no longer there.
bool NodePoller::deviceWentAway() const {
    if (!waitsForDevice_ || node_ == nullptr) return false;
    if (sncommon::isDeviceGoneError(lastFailure_)) return true;
    for (const auto& relay : relays_)
        if (relay && relay->deviceGone()) return true;
    return false;
}

// The relays stop, their pages stay; what they held for the node is gone
// with the device.  Said once, and nothing more while the device is away.
void NodePoller::letGoOfDevice() {
    for (std::size_t p = 0; p < kPorts; ++p) {
        if (relays_[p]) stopTerminal(p, "its device went away first");
        if (ports_[p] != nullptr) snCloseSerial(ports_[p]);
        ports_[p] = nullptr;
    }
    closeSensorNode(node_);
    node_ = nullptr;
    deviceGone_ = true;
    lastFailure_ = 0;
    nextOpen_ = std::chrono::steady_clock::now() + sncommon::kDeviceRetryEvery;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        status_.up = false;
        for (std::size_t p = 0; p < kPorts; ++p) {
            PortStatus& port = status_.ports[p];
            lineToRestore_[p] = port.lineKnown;
            port.open = false;
            port.txEnabled = false;
            port.flagsKnown = false;
        }
    }
    std::fprintf(stderr, "%s: %s\n", logName_.c_str(),
                 sncommon::deviceGoneSentence(target_.device).c_str());
    changed_();
}

// The line a user set goes back onto the port of a device that came back
// (the node may have lost it, and a relay paces by it).
bool NodePoller::restoreLine(std::size_t p, SnSerial* port) {
    if (!lineToRestore_[p]) return true;
    const snrelay::PortLine line = lineOf(p);
    if (!call(snSerInit(port, static_cast<int>(line.baud), line.parity, line.stopBits)))
        return false;
    lineToRestore_[p] = false;
    return true;
}

}  // namespace snpoll

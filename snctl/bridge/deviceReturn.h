// A bridge's device that went away (an adapter pulled out): said once, then
// tried each second until the node opens on it again, while the bridge
// keeps its own side (the pseudo-terminal, the network client).
#pragma once

#include "bridgeOptions.h"
#include "commandContext.h"
#include "relayNames.h"

#include <chrono>
#include <cstdio>

namespace snctl {

class DeviceReturn {
public:
    using Clock = std::chrono::steady_clock;

    DeviceReturn(CommandContext& context, const BridgeOptions& options, std::FILE* log)
        : context_(context), options_(options), log_(log) {}

    // Whether a device gone away is waited for: a serial device, not the
    // daemon's "tcp:" (the library connects again by itself).
    bool waitsForDevice() const;
    // Hands the report of a device gone to this object, when it waits.
    void watch(Relay& relay) const;
    // True when the relay's device is gone and this waits for it.
    bool wentAway(const Relay& relay) const { return waitsForDevice() && relay.deviceGone(); }
    // Says the device is gone and lets go of the node and its port.
    void gone();
    // True when the next try is due.
    bool due() const { return Clock::now() >= nextTry_; }
    // One try, if due: the port open again with `line`, or null.
    SnSerial* tryReopen(const PortLine& line);

private:
    CommandContext& context_;
    const BridgeOptions& options_;
    std::FILE* log_;
    Clock::time_point nextTry_{};
};

}  // namespace snctl

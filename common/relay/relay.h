// One virtual port relayed to one peer: the transmit and receive sides on
// threads of their own, the node's health and the counts.  Whatever the
// peer is (a pseudo-terminal, a network client), this is the one relay.
#pragma once

#include "nodeHealth.h"
#include "relayPeer.h"
#include "relaySides.h"
#include "stopEvent.h"

#include "snLib.h"

#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace snrelay {

struct Relayed {
    uint64_t toNode = 0;
    uint64_t fromNode = 0;
    bool nodeDown = false;  // the node was not answering at the end
    // What the node never told (snSerGetUnknown): receive blocks that may
    // have held bytes, and bytes that may have reached it twice.
    uint32_t unknownFromNode = 0;
    uint32_t unknownToNode = 0;
};

class Relay {
public:
    // The port's line must already be `line`; `who` begins the reports on
    // the node's health ("snctl: bridge").
    Relay(SnSerial* port, RelayPeer& peer, const PortLine& line, const std::string& who);
    ~Relay();  // stops and joins if finish() was not called
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    void start();
    // Raised when a side failed (or finish began): the caller's loop ends.
    const StopEvent& stopped() const { return stop_; }
    // Stops both sides, joins them and rethrows the first side's failure.
    Relayed finish();

    // True once the node's device itself has gone away (see NodeHealth);
    // the relay goes on failing until finished and started on it anew.
    bool deviceGone() const { return health_.deviceGone(); }
    // Before start(): the caller reports a device gone, not the relay.
    void ownerWaitsForDevice() { health_.ownerWaitsForDevice(); }

    uint64_t toNode() const { return transmit_.delivered(); }
    uint64_t fromNode() const { return receive_.delivered(); }

private:
    template <typename Side>
    void runSide(Side& side);

    SnSerial* port_;
    StopEvent stop_;
    NodeHealth health_;
    TransmitSide transmit_;
    ReceiveSide receive_;
    std::thread transmitter_;
    std::thread receiver_;
    std::mutex mutex_;
    std::optional<DeviceError> error_;
};

}  // namespace snrelay

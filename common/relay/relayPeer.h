// What is on the far side of a relay between a virtual port and its user:
// a pseudo-terminal, a network client, a browser.  The relay's two threads
// call it, the transmit side for what goes to the node and the receive side
// for what comes from it; the peer says which descriptor to wait on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace snrelay {

// The port's line: speed, parity letter (N, E, O) and stop bits.
struct PortLine {
    long baud = 9600;
    char parity = 'N';
    int stopBits = 1;

    int bitsPerByte() const { return 1 + 8 + (parity == 'N' ? 0 : 1) + stopBits; }
    bool operator==(const PortLine&) const = default;
};

// Something the peer asks of the node's port, in order with its data.
struct NodeAction {
    enum class Kind {
        SetLine,  // after the bytes before it have left the node
        BreakOn,  // after the bytes before it have left the node
        BreakOff,
        BreakPulse,     // a break of a quarter second
        PurgeReceive,   // drops what the node has received
        PurgeTransmit,  // drops what is queued for the node and what it holds
    };
    Kind kind = Kind::SetLine;
    PortLine line{};  // SetLine only
};

// A descriptor and the poll events that mean "try again now".
struct PeerWait {
    int fd = -1;
    short events = 0;
};

class RelayPeer {
public:
    virtual ~RelayPeer() = default;

    // Transmit side.  Takes up to `room` bytes for the node into `buffer`;
    // when a node action follows them it is put into `action`, and nothing
    // after it is taken in the same call.  Throws DeviceError when the peer
    // fails for good.
    virtual PeerWait inputReady() const = 0;
    virtual std::size_t takeInput(uint8_t* buffer, std::size_t room,
                                  std::optional<NodeAction>& action) = 0;

    // Receive side.  Takes what it can of the node's bytes now (0 when it
    // has no room); throws DeviceError when the peer fails for good.
    virtual PeerWait outputRoom() const = 0;
    virtual std::size_t giveOutput(const uint8_t* data, std::size_t length) = 0;

    // The port's error flags, for a peer that reports them (the receive side
    // reads them only while this says so, and clears what it hands over).
    virtual bool wantsErrorFlags() const { return false; }
    virtual void errorFlags(uint16_t /*flags*/) {}

    // Transmit side, after it did one of the peer's node actions (whether
    // the node took it), for a peer that shows what is set only once it is.
    virtual void actionDone(const NodeAction& /*action*/, bool /*succeeded*/) {}
};

}  // namespace snrelay

// The far side of the relay when the port is served over TCP: queues
// between the relay's two threads and the network thread, which owns the
// sockets.  Bounded both ways: at most kInboundLimit bytes wait for the
// node (the network thread stops reading the client meanwhile) and at
// most kOutboundLimit wait for the client (the receive side then holds the
// node's data back).  Node actions coalesce, one of each kind at most, so a
// flood of breaks or line changes costs no memory; nothing of a client
// that was reset or closed for a fault outlives it.
#pragma once

#include "relayNames.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace snctl {

inline constexpr std::size_t kInboundLimit = 4096;
inline constexpr std::size_t kOutboundLimit = 64 * 1024;

class ClientPeer : public RelayPeer {
public:
    // `telnet`: the node's bytes go out with 0xFF doubled; `keep`: while no
    // client is there they are held (up to kOutboundLimit) instead of dropped.
    ClientPeer(bool telnet, bool keep);

    // The relay's threads.
    PeerWait inputReady() const override;
    std::size_t takeInput(uint8_t* buffer, std::size_t room,
                          std::optional<NodeAction>& action) override;
    PeerWait outputRoom() const override;
    std::size_t giveOutput(const uint8_t* data, std::size_t length) override;
    bool wantsErrorFlags() const override { return wantsFlags_.load(); }
    void errorFlags(uint16_t flags) override;

    // The network thread.
    int networkWake() const { return networkWake_.fd(); }
    void clearNetworkWake() const { networkWake_.clear(); }
    void connect();
    // What a client left behind for the node, dropped when it went.
    struct Abandoned {
        std::size_t bytes = 0;
        std::size_t actions = 0;
    };
    // `dropQueued`: its bytes and actions the relay has not taken go too.
    Abandoned disconnect(bool dropQueued);
    bool inboundFull() const;
    void pushData(const uint8_t* data, std::size_t length);
    // An action replaces a waiting one of its kind and goes after the bytes
    // pushed so far: a burst of line changes becomes one line setting, the
    // latest, and a flood of breaks one pulse.
    void pushAction(const NodeAction& action);
    // Drops what waits for the node / for the client.
    void dropInbound();
    void dropOutbound();
    // Up to `max` bytes of the client's data, moved into `out`.
    void takeOutbound(std::vector<uint8_t>& out, std::size_t max);
    bool outboundEmpty() const;
    uint16_t takeErrorFlags();
    void setWantsErrorFlags(bool wants) { wantsFlags_.store(wants); }
    uint64_t dropped() const;
    // The last line a client's action handed to the relay, if any: the line
    // to set again on a node opened anew.
    std::optional<PortLine> lineHandedOver() const;

private:
    struct PendingAction {
        std::size_t at;  // bytes of inbound_ before it
        NodeAction action;
    };

    const bool telnet_;
    const bool keep_;
    mutable std::mutex mutex_;
    std::deque<uint8_t> inbound_;
    std::vector<PendingAction> actions_;  // in order of `at`, one per kind
    std::vector<uint8_t> outbound_;
    bool connected_ = false;
    uint64_t dropped_ = 0;
    uint16_t errorFlags_ = 0;
    std::optional<PortLine> lineHandedOver_;
    std::atomic<bool> wantsFlags_{false};
    WakeEvent inputReady_;   // network -> transmit side
    WakeEvent outputRoom_;   // network -> receive side
    WakeEvent networkWake_;  // either side -> network
};

}  // namespace snctl

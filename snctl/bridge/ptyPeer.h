// A pseudo-terminal as the far side of a relay: its master's bytes go to
// the node, the node's bytes are written to it.
#pragma once

#include "relayNames.h"

#include <poll.h>

namespace snctl {

class PtyPeer : public RelayPeer {
public:
    explicit PtyPeer(int master) : master_(master) {}

    PeerWait inputReady() const override { return {master_, POLLIN}; }
    std::size_t takeInput(uint8_t* buffer, std::size_t room,
                          std::optional<NodeAction>& action) override;
    PeerWait outputRoom() const override { return {master_, POLLOUT}; }
    std::size_t giveOutput(const uint8_t* data, std::size_t length) override;

private:
    int master_;
};

}  // namespace snctl

// One virtual port on the broker: what the node receives goes out on the
// port's rx topic in order, what comes on its tx topic goes to the node
// through the poller's relay.  The relay runs for as long as the carrier
// lives; bytes it could not hand on are counted, never guessed at.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "nodePoller.h"
#include "outbox.h"
#include "topics.h"

namespace snmqtt {

class PortCarrier {
public:
    PortCarrier(snpoll::NodePoller& poller, const Topics& topics, std::string node, int port);
    ~PortCarrier();
    PortCarrier(const PortCarrier&) = delete;
    PortCarrier& operator=(const PortCarrier&) = delete;

    int port() const { return port_; }
    // All of `bytes` queued for the node, or none (false: the queue is full).
    bool send(std::string_view bytes);
    // What the node received since the last call, on the rx topic; the
    // bytes that left the feed's ring before they could be sent are
    // returned, so the caller can say so.
    uint64_t forward(Outbox& out);

private:
    snpoll::NodePoller& poller_;
    snpoll::TerminalFeed& feed_;
    const std::string rxTopic_;
    const int port_;
    snpoll::FeedCursor cursor_;
};

}  // namespace snmqtt

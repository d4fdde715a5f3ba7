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
    // What the node received, on the rx topic, once a block is full or its
    // first byte has waited kRxGather (a stream goes in blocks, not in the
    // relay's small reads).  The bytes that left the feed's ring before
    // they could be sent are returned, so the caller can say so.
    uint64_t forward(Outbox& out, double now);
    // Bytes wait to be forwarded: call forward() again within kRxGather.
    bool holding() const;

private:
    snpoll::NodePoller& poller_;
    snpoll::TerminalFeed& feed_;
    const std::string rxTopic_;
    const int port_;
    snpoll::FeedCursor cursor_;
    double firstWaiting_ = -1;  // when the oldest unsent byte was seen
};

inline constexpr double kRxGather = 0.02;

}  // namespace snmqtt

#include "portCarrier.h"

#include <vector>

namespace snmqtt {

namespace {

// Exactly once and in order: the broker keeps a QoS 2 message's place.
constexpr int kPortQos = 2;
constexpr std::size_t kLargestRx = 4096;

}  // namespace

PortCarrier::PortCarrier(snpoll::NodePoller& poller, const Topics& topics, std::string node,
                         int port)
    : poller_(poller),
      feed_(poller.terminal(port)),
      rxTopic_(topics.portRx(node, port)),
      port_(port),
      cursor_(feed_.cursorAtEnd()) {
    feed_.attach();
    poller_.wake();
}

PortCarrier::~PortCarrier() {
    feed_.detach();
    poller_.wake();
}

bool PortCarrier::send(std::string_view bytes) {
    if (bytes.empty()) return true;
    return feed_.type(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Only while connected: a message libmosquitto refuses would be bytes lost,
// so they wait in the ring meanwhile.
uint64_t PortCarrier::forward(Outbox& out, double now) {
    uint64_t missed = 0;
    if (!feed_.pending(cursor_)) return 0;
    if (firstWaiting_ < 0) firstWaiting_ = now;
    if (now - firstWaiting_ < kRxGather && feed_.waiting(cursor_) < kLargestRx) return 0;
    firstWaiting_ = -1;
    std::vector<uint8_t> buffer(kLargestRx);
    while (out.connected() && feed_.pending(cursor_)) {
        const snpoll::FeedCursor before = cursor_;
        const snpoll::FeedRead read = feed_.read(cursor_, buffer.data(), buffer.size());
        missed += read.missed;
        if (read.length == 0) continue;
        const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), read.length);
        if (!out.publish(rxTopic_, bytes, kPortQos, false)) {
            cursor_ = before;  // tried again once the broker is back
            cursor_.position += read.missed;
            firstWaiting_ = now;
            break;
        }
    }
    return missed;
}

}  // namespace snmqtt

namespace snmqtt {

bool PortCarrier::holding() const { return firstWaiting_ >= 0 || feed_.pending(cursor_); }

}  // namespace snmqtt

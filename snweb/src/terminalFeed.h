// What the terminal pages of one virtual port share.  The node's bytes go
// into a ring that every page reads at its own pace: reading from the node
// never waits for a browser, and a page that falls a whole ring behind is
// told how many bytes it missed.  The pages' keystrokes wait in a bounded
// queue for the relay, in order with the line changes made meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "relayPeer.h"
#include "wakeEvent.h"

namespace snweb {

inline constexpr std::size_t kTerminalRing = 256 * 1024;
inline constexpr std::size_t kTerminalInput = 64 * 1024;

// Where one page is in the node's stream.
struct FeedCursor {
    uint64_t position = 0;
};

struct FeedRead {
    std::size_t length = 0;  // bytes copied
    uint64_t missed = 0;     // bytes that left the ring before this page read them
};

class TerminalFeed : public snrelay::RelayPeer {
public:
    // `newOutput` runs on the relay's receive thread after each hand-over
    // and `inputTaken` on its transmit thread; both must be quick.
    TerminalFeed(std::function<void()> newOutput, std::function<void()> inputTaken,
                 std::size_t ringSize = kTerminalRing, std::size_t inputSize = kTerminalInput);

    // The pages' side.
    FeedCursor cursorAtEnd() const;  // a page opened now sees what comes next
    FeedRead read(FeedCursor& cursor, uint8_t* out, std::size_t room) const;
    bool pending(const FeedCursor& cursor) const;
    // All of `data` or, when the queue lacks room, none of it.
    bool type(const uint8_t* data, std::size_t length);
    std::size_t inputRoom() const;
    // After the bytes typed before it.
    void act(const snrelay::NodeAction& action);

    void attach();
    void detach();
    int viewers() const;
    uint64_t received() const;  // bytes from the node, all told

    // The relay's side.
    snrelay::PeerWait inputReady() const override;
    std::size_t takeInput(uint8_t* buffer, std::size_t room,
                          std::optional<snrelay::NodeAction>& action) override;
    snrelay::PeerWait outputRoom() const override { return {-1, 0}; }
    std::size_t giveOutput(const uint8_t* data, std::size_t length) override;

private:
    struct Typed {
        std::vector<uint8_t> bytes;
        std::optional<snrelay::NodeAction> action;  // after the bytes
    };

    const std::function<void()> newOutput_;
    const std::function<void()> inputTaken_;
    const std::size_t inputSize_;
    snrelay::WakeEvent inputEvent_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> ring_;
    uint64_t written_ = 0;  // bytes ever put into the ring
    std::deque<Typed> typed_;
    std::size_t typedBytes_ = 0;
    int viewers_ = 0;
};

}  // namespace snweb

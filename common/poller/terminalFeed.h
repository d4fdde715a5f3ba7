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

namespace snpoll {

inline constexpr std::size_t kTerminalRing = 256 * 1024;
inline constexpr std::size_t kTerminalInput = 64 * 1024;
// A page's largest message; the port's queue takes one whole when empty.
inline constexpr std::size_t kTerminalMessage = kTerminalInput;

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
    std::size_t waiting(const FeedCursor& cursor) const;  // bytes a read would give, at most
    // All of `data` or, when the queue lacks room, none of it.
    bool type(const uint8_t* data, std::size_t length);
    std::size_t inputRoom() const;
    // After the bytes typed before it.
    void act(const snrelay::NodeAction& action);

    void attach();
    // The last page leaving drops what is typed and not yet with a relay
    // (its line changes too), so no later page's relay sends it; the pages
    // that come next are a new generation.
    void detach();
    int viewers() const;
    uint64_t generation() const;
    uint64_t takeDropped();     // typed bytes dropped since the last call
    uint64_t received() const;  // bytes from the node, all told

    // A relay serves this generation from now on; until relayEnded(), which
    // says how many typed bytes it was handed, it takes this generation's.
    uint64_t relayStarted();
    uint64_t relayEnded();
    // Runs on the relay's transmit thread after it did a line change.
    void onActionDone(std::function<void(const snrelay::NodeAction&, bool)> done);

    // The relay's side.
    snrelay::PeerWait inputReady() const override;
    std::size_t takeInput(uint8_t* buffer, std::size_t room,
                          std::optional<snrelay::NodeAction>& action) override;
    snrelay::PeerWait outputRoom() const override { return {-1, 0}; }
    std::size_t giveOutput(const uint8_t* data, std::size_t length) override;
    void actionDone(const snrelay::NodeAction& action, bool succeeded) override;

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
    uint64_t generation_ = 0;
    uint64_t dropped_ = 0;
    bool relaying_ = false;
    uint64_t relayGeneration_ = 0;
    uint64_t handed_ = 0;  // typed bytes given to the relay of relayGeneration_
    std::function<void(const snrelay::NodeAction&, bool)> actionDone_;
};

}  // namespace snpoll

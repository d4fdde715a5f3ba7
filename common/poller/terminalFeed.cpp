#include "terminalFeed.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace snpoll {

TerminalFeed::TerminalFeed(std::function<void()> newOutput, std::function<void()> inputTaken,
                           std::size_t ringSize, std::size_t inputSize)
    : newOutput_(std::move(newOutput)),
      inputTaken_(std::move(inputTaken)),
      inputSize_(inputSize),
      ring_(ringSize) {}

FeedCursor TerminalFeed::cursorAtEnd() const {
    std::lock_guard lock(mutex_);
    return FeedCursor{written_};
}

FeedRead TerminalFeed::read(FeedCursor& cursor, uint8_t* out, std::size_t room) const {
    std::lock_guard lock(mutex_);
    FeedRead result;
    const uint64_t oldest = written_ > ring_.size() ? written_ - ring_.size() : 0;
    if (cursor.position < oldest) {
        result.missed = oldest - cursor.position;
        cursor.position = oldest;
    }
    const auto available = static_cast<std::size_t>(written_ - cursor.position);
    std::size_t length = std::min(available, room);
    // In at most two pieces: up to the ring's end, then from its start.
    const auto at = static_cast<std::size_t>(cursor.position % ring_.size());
    const std::size_t first = std::min(length, ring_.size() - at);
    std::memcpy(out, ring_.data() + at, first);
    std::memcpy(out + first, ring_.data(), length - first);
    cursor.position += length;
    result.length = length;
    return result;
}

bool TerminalFeed::pending(const FeedCursor& cursor) const {
    std::lock_guard lock(mutex_);
    return cursor.position != written_;
}

std::size_t TerminalFeed::waiting(const FeedCursor& cursor) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::min<uint64_t>(written_ - cursor.position, ring_.size()));
}

bool TerminalFeed::type(const uint8_t* data, std::size_t length) {
    {
        std::lock_guard lock(mutex_);
        if (length > inputSize_ - typedBytes_) return false;
        if (typed_.empty() || typed_.back().action) typed_.emplace_back();
        typed_.back().bytes.insert(typed_.back().bytes.end(), data, data + length);
        typedBytes_ += length;
    }
    inputEvent_.notify();
    return true;
}

std::size_t TerminalFeed::inputRoom() const {
    std::lock_guard lock(mutex_);
    return inputSize_ - typedBytes_;
}

void TerminalFeed::act(const snrelay::NodeAction& action) {
    {
        std::lock_guard lock(mutex_);
        if (typed_.empty() || typed_.back().action) typed_.emplace_back();
        typed_.back().action = action;
    }
    inputEvent_.notify();
}

void TerminalFeed::attach() {
    std::lock_guard lock(mutex_);
    ++viewers_;
}

void TerminalFeed::detach() {
    std::lock_guard lock(mutex_);
    if (viewers_ == 0 || --viewers_ > 0) return;
    dropped_ += typedBytes_;
    typed_.clear();
    typedBytes_ = 0;
    ++generation_;
}

uint64_t TerminalFeed::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

uint64_t TerminalFeed::takeDropped() {
    std::lock_guard lock(mutex_);
    return std::exchange(dropped_, 0);
}

uint64_t TerminalFeed::relayStarted() {
    std::lock_guard lock(mutex_);
    relaying_ = true;
    relayGeneration_ = generation_;
    handed_ = 0;
    if (!typed_.empty()) inputEvent_.notify();
    return generation_;
}

uint64_t TerminalFeed::relayEnded() {
    std::lock_guard lock(mutex_);
    relaying_ = false;
    return handed_;
}

void TerminalFeed::onActionDone(std::function<void(const snrelay::NodeAction&, bool)> done) {
    std::lock_guard lock(mutex_);
    actionDone_ = std::move(done);
}

void TerminalFeed::actionDone(const snrelay::NodeAction& action, bool succeeded) {
    std::function<void(const snrelay::NodeAction&, bool)> done;
    {
        std::lock_guard lock(mutex_);
        done = actionDone_;
    }
    if (done) done(action, succeeded);
}

int TerminalFeed::viewers() const {
    std::lock_guard lock(mutex_);
    return viewers_;
}

uint64_t TerminalFeed::received() const {
    std::lock_guard lock(mutex_);
    return written_;
}

snrelay::PeerWait TerminalFeed::inputReady() const { return {inputEvent_.fd(), POLLIN}; }

std::size_t TerminalFeed::takeInput(uint8_t* buffer, std::size_t room,
                                    std::optional<snrelay::NodeAction>& action) {
    inputEvent_.clear();
    std::size_t taken = 0;
    {
        std::lock_guard lock(mutex_);
        // A relay that outlived its pages takes nothing of the next ones'.
        if (!relaying_ || relayGeneration_ != generation_) return 0;
        while (!typed_.empty() && !action) {
            Typed& front = typed_.front();
            const std::size_t n = std::min(room - taken, front.bytes.size());
            std::copy_n(front.bytes.begin(), n, buffer + taken);  // a line change alone has none
            front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<long>(n));
            taken += n;
            typedBytes_ -= n;
            handed_ += n;
            if (!front.bytes.empty()) break;  // no room left
            action = front.action;
            typed_.pop_front();
        }
        if (!typed_.empty()) inputEvent_.notify();
    }
    if (taken != 0 || action) inputTaken_();
    return taken;
}

std::size_t TerminalFeed::giveOutput(const uint8_t* data, std::size_t length) {
    {
        std::lock_guard lock(mutex_);
        // Only the newest ring's worth can ever be read.
        const std::size_t skip = length > ring_.size() ? length - ring_.size() : 0;
        written_ += skip;
        for (std::size_t i = skip; i < length;) {
            const auto at = static_cast<std::size_t>(written_ % ring_.size());
            const std::size_t n = std::min(length - i, ring_.size() - at);
            std::memcpy(ring_.data() + at, data + i, n);
            written_ += n;
            i += n;
        }
    }
    newOutput_();
    return length;
}

}  // namespace snpoll

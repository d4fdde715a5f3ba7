#include "portModel.h"

#include <algorithm>

namespace snsim::detail {

namespace {
// Bytes an instrument may send at once: enough for several milliseconds of a
// fast line, so the pump keeps up with the line between its passes.
constexpr std::size_t kRxBurst = 256;
}  // namespace

PortModel::PortModel(std::size_t txCapacity, std::size_t rxCapacity)
    : txCap_(txCapacity), rxCap_(rxCapacity) {}

Clock::duration PortModel::charTime() const {
    // 10 bits a character on the line.
    const uint32_t s = speed_ == 0 ? 1 : speed_;
    return std::chrono::nanoseconds(10'000'000'000LL / s);
}

void PortModel::setSpeed(uint32_t bitsPerSecond, Clock::time_point now) {
    advance(now);
    speed_ = bitsPerSecond;
    nextDone_.reset();
    if (!tx_.empty() && moving()) nextDone_ = now + charTime();
}

std::size_t PortModel::acceptTx(const uint8_t* data, std::size_t n, bool enabled,
                                Clock::time_point now) {
    advance(now);
    if (!enabled) return 0;
    std::size_t take = std::min(n, txCap_ - std::min(txCap_, tx_.size()));
    if (acceptLimit_ >= 0) take = std::min(take, static_cast<std::size_t>(acceptLimit_));
    if (take == 0) return 0;
    const bool wasEmpty = tx_.empty();
    tx_.insert(tx_.end(), data, data + take);
    if (wasEmpty && moving()) nextDone_ = now + charTime();
    return take;
}

void PortModel::advance(Clock::time_point now) {
    if (!moving() || !nextDone_) return;
    const auto step = charTime();
    while (!tx_.empty() && *nextDone_ <= now) {
        emit(tx_.front());
        tx_.pop_front();
        *nextDone_ += step;
    }
    if (tx_.empty()) nextDone_.reset();
}

std::optional<Clock::time_point> PortModel::nextDrain() const {
    if (tx_.empty() || !moving()) return std::nullopt;
    return nextDone_;
}

void PortModel::emit(uint8_t b) {
    tap_.push_back(b);
    if (tap_.size() > kTapLimit) tap_.pop_front();
    switch (sink_) {
        case Sink::Loopback:
            pushRx(&b, 1);
            break;
        case Sink::External:
            external_.push_back(b);
            break;
        case Sink::None:
            break;
    }
}

std::size_t PortModel::pushRx(const uint8_t* data, std::size_t n) {
    const std::size_t room = rxCap_ - std::min(rxCap_, rx_.size());
    const std::size_t take = std::min(n, room);
    rx_.insert(rx_.end(), data, data + take);
    if (take < n) errFlags_ |= kOverrunFlag;
    return n - take;
}

std::size_t PortModel::takeRx(uint8_t* dst, std::size_t max) {
    const std::size_t n = std::min(max, rx_.size());
    std::copy_n(rx_.begin(), n, dst);
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void PortModel::flushTx() {
    tx_.clear();
    nextDone_.reset();
}

void PortModel::setBreak(bool on, Clock::time_point now) {
    advance(now);
    break_ = on;
    nextDone_.reset();
    if (!tx_.empty() && moving()) nextDone_ = now + charTime();
}

std::vector<uint8_t> PortModel::takeTap() {
    std::vector<uint8_t> out(tap_.begin(), tap_.end());
    tap_.clear();
    return out;
}

std::vector<uint8_t> PortModel::takeExternal() {
    std::vector<uint8_t> out;
    out.swap(external_);
    return out;
}

std::size_t PortModel::rxAllowance(Clock::time_point now) const {
    if (speed_ == 0) return 0;
    if (now <= rxClock_) return 0;
    const auto n = static_cast<std::size_t>((now - rxClock_) / charTime());
    return std::min(n, kRxBurst);
}

void PortModel::consumeRxAllowance(std::size_t n, Clock::time_point now) {
    const auto step = charTime();
    const auto floor = now - step * static_cast<long>(kRxBurst);
    if (rxClock_ < floor) rxClock_ = floor;
    rxClock_ += step * static_cast<long>(n);
}

}  // namespace snsim::detail

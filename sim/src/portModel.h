// Virtual serial port of the node: a bounded transmit FIFO that drains at
// the port's line speed, a bounded receive FIFO with an overrun flag, break
// state, and the tap of everything put on the line.  Pure model: no I/O, no
// locking (the emulator serialises access), time passed in by the caller.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace snsim::detail {

using Clock = std::chrono::steady_clock;

// Bit of the error-flag register (B + 259) set when the receive FIFO overflows.
inline constexpr uint16_t kOverrunFlag = 0x0002;  // bit 1, as a UART's OE
// Bytes of line output the tap keeps (oldest dropped beyond).
inline constexpr std::size_t kTapLimit = 4u * 1024u * 1024u;

class PortModel {
public:
    // Where drained transmit bytes go besides the tap.
    enum class Sink { None, Loopback, External };

    PortModel(std::size_t txCapacity, std::size_t rxCapacity);

    void setSink(Sink sink) { sink_ = sink; }
    Sink sink() const { return sink_; }

    // Line speed in bits per second (0 = line stopped).  Advance first.
    void setSpeed(uint32_t bitsPerSecond, Clock::time_point now);
    uint32_t speed() const { return speed_; }

    // Takes what fits from data (nothing when !enabled); returns the count.
    std::size_t acceptTx(const uint8_t* data, std::size_t n, bool enabled, Clock::time_point now);
    void setAcceptLimit(int limit) { acceptLimit_ = limit; }

    // Moves every byte whose transmission has completed by `now` out of the
    // transmit FIFO onto the line (tap, then the sink).
    void advance(Clock::time_point now);
    // When the next byte will have left, if the line is moving.
    std::optional<Clock::time_point> nextDrain() const;

    // Bytes arriving from the instrument; returns how many were dropped.
    std::size_t pushRx(const uint8_t* data, std::size_t n);
    std::size_t takeRx(uint8_t* dst, std::size_t max);

    void flushRx() { rx_.clear(); }
    void flushTx();

    void setBreak(bool on, Clock::time_point now);
    bool breakActive() const { return break_; }

    uint16_t errorFlags() const { return errFlags_; }
    void setErrorFlags(uint16_t f) { errFlags_ = f; }
    void clearErrorFlags(uint16_t mask) { errFlags_ = static_cast<uint16_t>(errFlags_ & ~mask); }

    std::size_t txPending() const { return tx_.size(); }
    const std::deque<uint8_t>& txQueued() const { return tx_; }
    std::size_t rxPending() const { return rx_.size(); }
    bool txBusy() const { return !tx_.empty(); }

    std::vector<uint8_t> takeTap();
    // Drained bytes waiting for an external attachment (Sink::External).
    std::vector<uint8_t> takeExternal();

    // Receive pacing for an external instrument: how many bytes the line can
    // have carried by `now` (bounded burst), and booking what was read.
    std::size_t rxAllowance(Clock::time_point now) const;
    void consumeRxAllowance(std::size_t n, Clock::time_point now);

private:
    Clock::duration charTime() const;
    bool moving() const { return speed_ != 0 && !break_; }
    void emit(uint8_t b);

    std::size_t txCap_, rxCap_;
    Sink sink_ = Sink::None;
    uint32_t speed_ = 9600;
    int acceptLimit_ = -1;
    std::deque<uint8_t> tx_, rx_, tap_;
    std::vector<uint8_t> external_;
    std::optional<Clock::time_point> nextDone_;  // front byte completes
    bool break_ = false;
    uint16_t errFlags_ = 0;
    Clock::time_point rxClock_{};
};

}  // namespace snsim::detail

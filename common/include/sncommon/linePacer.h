// Paces bytes for a virtual port to the speed of its line.  The node can
// never send faster than its line; handing it more only fills its buffer,
// and a chunk it takes only partly costs the library a 50 ms pause.
#pragma once

#include <chrono>
#include <cstddef>

namespace sncommon {

class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    // `bitsPerByte` counts start, data, parity and stop bits.
    LinePacer(long bitsPerSecond, int bitsPerByte, Clock::time_point now);

    // Bytes that may be handed over at `now` (at most the burst).
    std::size_t allowance(Clock::time_point now);
    void spent(std::size_t bytes);
    // How long until `bytes` (at most the burst) may be handed over.
    std::chrono::milliseconds waitFor(std::size_t bytes, Clock::time_point now);

    // Two full transmit blocks: enough to keep the line busy across one
    // Modbus transaction, small enough for any node's buffer.
    static constexpr double kBurst = 480.0;

private:
    void catchUp(Clock::time_point now);  // credit for the time since the last call

    double bytesPerSecond_;
    double credit_ = kBurst;
    Clock::time_point last_;
};

}  // namespace sncommon

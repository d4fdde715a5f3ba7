#include "portReader.h"

#include "sncommon/deviceFailure.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace snrelay {

namespace {

constexpr auto kPollPause = std::chrono::milliseconds(20);

}  // namespace

std::size_t readOnce(SnSerial* port, uint8_t* buffer, uint32_t capacity) {
    // A successful transaction leaves errno alone; a failed one sets it.
    errno = 0;
    const int got = snSerRead(port, buffer, capacity);
    if (got == 0 && errno != 0) {
        throw DeviceError("cannot read virtual port " + std::to_string(port->port), errno);
    }
    return static_cast<std::size_t>(got);
}

void receiveFor(SnSerial* port, long ms, std::vector<uint8_t>& received) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t block[kFullBlock];
    for (;;) {
        const std::size_t got = readOnce(port, block, kFullBlock);
        received.insert(received.end(), block, block + got);
        if (got != 0) continue;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(kPollPause);
    }
}

}  // namespace snrelay

// How long to wait before the next attempt at the broker: 1 s doubling to
// 60 s, each wait jittered by up to a quarter either way so that bridges
// cut off together do not all come back in the same second.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>

namespace snmqtt {

class ReconnectBackoff {
public:
    static constexpr std::chrono::milliseconds kFirst{1000};
    static constexpr std::chrono::milliseconds kLongest{60000};

    ReconnectBackoff();  // seeded at random
    explicit ReconnectBackoff(std::uint32_t seed);

    // The wait before the next attempt; every call doubles the one after.
    std::chrono::milliseconds next();
    // After a connection the broker accepted: back to the first wait.
    void reset() { nominal_ = kFirst; }

private:
    std::mt19937 random_;
    std::chrono::milliseconds nominal_ = kFirst;
};

}  // namespace snmqtt

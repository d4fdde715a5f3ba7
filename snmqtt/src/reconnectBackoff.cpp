#include "reconnectBackoff.h"

#include <algorithm>

namespace snmqtt {

ReconnectBackoff::ReconnectBackoff() : random_(std::random_device{}()) {}

ReconnectBackoff::ReconnectBackoff(std::uint32_t seed) : random_(seed) {}

std::chrono::milliseconds ReconnectBackoff::next() {
    std::uniform_real_distribution<double> jitter(0.75, 1.25);
    const auto wait = std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(
        static_cast<double>(nominal_.count()) * jitter(random_)));
    nominal_ = std::min(nominal_ * 2, kLongest);
    return wait;
}

}  // namespace snmqtt

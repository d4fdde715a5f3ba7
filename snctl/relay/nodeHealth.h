// Whether the bridged node answers, reported once on each change so a dead
// node is visible without flooding the log.
#pragma once

#include "failure.h"

#include <cstdint>
#include <cstdio>
#include <mutex>

namespace snctl {

class NodeHealth {
public:
    NodeHealth(uint16_t port, std::FILE* out) : port_(port), out_(out) {}

    void failed(const DeviceError& error);
    void answered();
    bool down() const;

private:
    uint16_t port_;
    std::FILE* out_;
    mutable std::mutex mutex_;
    bool down_ = false;
};

}  // namespace snctl

// Whether the bridged node answers, reported once on each change so a dead
// node is visible without flooding the log.
#pragma once

#include "sncommon/deviceFailure.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace snrelay {

using sncommon::DeviceError;

class NodeHealth {
public:
    // `who` begins each report ("snctl: bridge").
    NodeHealth(uint16_t port, std::FILE* out, std::string who)
        : port_(port), out_(out), who_(std::move(who)) {}

    void failed(const DeviceError& error);
    void answered();
    bool down() const;
    // The last failure says a serial device itself went away (an adapter
    // pulled out: EIO, ENXIO, ENODEV, or a hang-up, which libmodbus reports
    // as ECONNRESET), not that the node is silent.  Over "tcp:" a reset is
    // the daemon's connection, which the library opens again by itself.
    bool deviceGone() const;
    // The owner waits for a device that went away and says so itself: no
    // "not answering" report for that.
    void ownerWaitsForDevice();

private:
    uint16_t port_;
    std::FILE* out_;
    std::string who_;
    mutable std::mutex mutex_;
    bool down_ = false;
    int lastError_ = 0;
    bool ownerWaits_ = false;
};

}  // namespace snrelay

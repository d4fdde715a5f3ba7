#include "nodeHealth.h"

#include "sncommon/deviceGone.h"

namespace snrelay {

using sncommon::isDeviceGoneError;

void NodeHealth::failed(const DeviceError& error) {
    std::lock_guard lock(mutex_);
    lastError_ = error.errorNumber();
    if (down_) return;
    down_ = true;
    if (ownerWaits_ && isDeviceGoneError(lastError_)) return;
    std::fprintf(out_, "%s: node not answering on virtual port %u: %s\n", who_.c_str(), port_,
                 sncommon::describeDeviceError(error).c_str());
    std::fflush(out_);
}

void NodeHealth::answered() {
    std::lock_guard lock(mutex_);
    if (!down_) return;
    down_ = false;
    std::fprintf(out_, "%s: node answering again on virtual port %u\n", who_.c_str(), port_);
    std::fflush(out_);
}

bool NodeHealth::down() const {
    std::lock_guard lock(mutex_);
    return down_;
}

bool NodeHealth::deviceGone() const {
    std::lock_guard lock(mutex_);
    return down_ && isDeviceGoneError(lastError_);
}

void NodeHealth::ownerWaitsForDevice() {
    std::lock_guard lock(mutex_);
    ownerWaits_ = true;
}

}  // namespace snrelay

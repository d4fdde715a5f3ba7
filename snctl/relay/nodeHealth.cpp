#include "nodeHealth.h"

namespace snctl {

void NodeHealth::failed(const DeviceError& error) {
    std::lock_guard lock(mutex_);
    if (down_) return;
    down_ = true;
    std::fprintf(out_, "snctl: bridge: node not answering on virtual port %u: %s\n", port_,
                 describeDeviceError(error).c_str());
    std::fflush(out_);
}

void NodeHealth::answered() {
    std::lock_guard lock(mutex_);
    if (!down_) return;
    down_ = false;
    std::fprintf(out_, "snctl: bridge: node answering again on virtual port %u\n", port_);
    std::fflush(out_);
}

bool NodeHealth::down() const {
    std::lock_guard lock(mutex_);
    return down_;
}

}  // namespace snctl

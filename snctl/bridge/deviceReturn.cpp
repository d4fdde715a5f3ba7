#include "deviceReturn.h"

#include "failure.h"
#include "sncommon/deviceGone.h"
#include "snline/hostPort.h"

namespace snctl {

using sncommon::kDeviceRetryEvery;

bool DeviceReturn::waitsForDevice() const {
    return !snline::isTcpLinkName(context_.options.device.c_str());
}

void DeviceReturn::watch(Relay& relay) const {
    if (waitsForDevice()) relay.ownerWaitsForDevice();
}

void DeviceReturn::gone() {
    context_.access.release();
    std::fprintf(log_, "snctl: bridge: %s\n",
                 sncommon::deviceGoneSentence(context_.options.device).c_str());
    std::fflush(log_);
    nextTry_ = Clock::now() + kDeviceRetryEvery;
}

SnSerial* DeviceReturn::tryReopen(const PortLine& line) {
    if (!due()) return nullptr;
    nextTry_ = Clock::now() + kDeviceRetryEvery;
    if (!sncommon::mayReopenDevice(context_.options.device)) return nullptr;
    try {
        SnSerial* port = context_.access.port(options_.port);
        check(snSerInit(port, static_cast<int>(line.baud), line.parity, line.stopBits),
              "cannot set the line of virtual port " + std::to_string(options_.port));
        std::fprintf(log_, "snctl: bridge: %s; relaying virtual port %u again\n",
                     sncommon::deviceBackSentence(context_.options.device).c_str(), options_.port);
        std::fflush(log_);
        return port;
    } catch (const DeviceError&) {
        // Not there yet, or the node not answering on it yet.
        context_.access.release();
        return nullptr;
    }
}

}  // namespace snctl

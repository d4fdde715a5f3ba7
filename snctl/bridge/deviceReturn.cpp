#include "deviceReturn.h"

#include "failure.h"
#include "sncommon/sessionTerminal.h"
#include "snline/hostPort.h"

namespace snctl {

namespace {

// A replugged adapter is back within a second or two; trying more often
// only adds open attempts on a device still settling.
constexpr std::chrono::seconds kRetryEvery(1);

}  // namespace

bool DeviceReturn::waitsForDevice() const {
    return !snline::isTcpLinkName(context_.options.device.c_str());
}

void DeviceReturn::watch(Relay& relay) const {
    if (waitsForDevice()) relay.ownerWaitsForDevice();
}

void DeviceReturn::gone() {
    context_.access.release();
    std::fprintf(log_, "snctl: bridge: %s is gone; waiting for it to come back\n",
                 context_.options.device.c_str());
    std::fflush(log_);
    nextTry_ = Clock::now() + kRetryEvery;
}

SnSerial* DeviceReturn::tryReopen(const PortLine& line) {
    if (!due()) return nullptr;
    nextTry_ = Clock::now() + kRetryEvery;
    // Its number taken by someone's terminal is not the device come back.
    if (sncommon::isSessionTerminal(context_.options.device)) return nullptr;
    try {
        SnSerial* port = context_.access.port(options_.port);
        check(snSerInit(port, static_cast<int>(line.baud), line.parity, line.stopBits),
              "cannot set the line of virtual port " + std::to_string(options_.port));
        std::fprintf(log_, "snctl: bridge: %s is back; relaying virtual port %u again\n",
                     context_.options.device.c_str(), options_.port);
        std::fflush(log_);
        return port;
    } catch (const DeviceError&) {
        // Not there yet, or the node not answering on it yet.
        context_.access.release();
        return nullptr;
    }
}

}  // namespace snctl

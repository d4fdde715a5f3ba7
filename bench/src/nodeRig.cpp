#include "nodeRig.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace snbench {

namespace {

// FIFOs far larger than any run, so the node never refuses or overruns: the
// line, not the node, is what is measured.
constexpr std::size_t kFifoBytes = 32u << 20;
// Fastest virtual-port speed the line-speed register can carry (speed / 4 in
// 16 bits); the transmit FIFO drains at it.
constexpr int kPortSpeed = 230400;
constexpr int kLinkSpeed = 115200;

snsim::Options sinkOptions() {
    snsim::Options o;
    for (auto& p : o.ports) p.kind = snsim::Attachment::Kind::None;
    o.txFifoSize = kFifoBytes;
    o.rxFifoSize = kFifoBytes;
    return o;
}

}  // namespace

snsim::Options timedNodeOptions(int baud) {
    snsim::Options o;
    for (auto& p : o.ports) p.kind = snsim::Attachment::Kind::None;
    o.lineTiming = true;
    o.modbusBaud = baud;
    o.rxFifoSize = 1u << 20;
    o.txFifoSize = 1u << 20;
    return o;
}

NodeRig::NodeRig() : sim_(sinkOptions()) {}

NodeRig::~NodeRig() {
    if (port_ != nullptr) snCloseSerial(port_);
    if (node_ != nullptr) closeSensorNode(node_);
    sim_.stop();
}

bool NodeRig::start() { return sim_.start() && openNode(sim_.devicePath()); }

bool NodeRig::openNode(const std::string& name) {
    if (port_ != nullptr) snCloseSerial(port_);
    if (node_ != nullptr) closeSensorNode(node_);
    port_ = nullptr;
    node_ = openSensorNode(name.c_str(), kLinkSpeed, kSlave);
    if (node_ == nullptr) {
        std::fprintf(stderr, "snbench: openSensorNode %s: %s\n", name.c_str(),
                     std::strerror(errno));
        return false;
    }
    port_ = snOpenSerial(node_, kPort);
    if (port_ == nullptr || snSerInit(port_, kPortSpeed, 'N', 1) != 0) {
        std::fprintf(stderr, "snbench: cannot open or set up port %d\n", kPort);
        return false;
    }
    return true;
}

void NodeRig::setLineSpeed(int baud) { sim_.setLineTiming(baud > 0, baud > 0 ? baud : kLinkSpeed); }

void NodeRig::clearTransmitSide() {
    snSerOFlush(port_);
    sim_.takePortOutput(kPort, kSlave);
}

}  // namespace snbench

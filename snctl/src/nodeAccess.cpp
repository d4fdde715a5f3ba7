#include "nodeAccess.h"

#include "deviceHints.h"
#include "failure.h"
#include "sncommon/deviceHolder.h"

#include <cerrno>

#include <string>

namespace snctl {

NodeAccess::NodeAccess(const GlobalOptions& options) : options_(options) {
    initSensorNodeLib();
    snSetDebug(options.libraryTrace ? 1 : 0);
}

NodeAccess::~NodeAccess() {
    // Closing the node drops its ports without touching their transmit
    // enable, so bytes already handed to the node still go out.
    if (node_ != nullptr) closeSensorNode(node_);
}

SensorNode* NodeAccess::node() {
    if (node_ != nullptr) return node_;
    node_ = openSensorNode(options_.device.c_str(), options_.modbusBaud, options_.slave);
    if (node_ == nullptr) {
        // Another master on the bus: say who, and the way through it.
        if (errno == EBUSY) throw DeviceError(sncommon::deviceHolderSentence(options_.device), 0);
        throw openFailure(
            "cannot open node " + std::to_string(options_.slave) + " on " + options_.device,
            options_.device, options_.modbusBaud, errno);
    }
    snModbusSetDebug(node_, options_.modbusDebug ? 1 : 0);
    return node_;
}

void NodeAccess::release() {
    if (node_ != nullptr) closeSensorNode(node_);
    node_ = nullptr;
}

SnSerial* NodeAccess::port(uint16_t port) {
    SnSerial* serial = snOpenSerial(node(), port);
    if (serial == nullptr)
        throw DeviceError("cannot open virtual port " + std::to_string(port), errno);
    return serial;
}

void NodeAccess::closePort(SnSerial* port) {
    const unsigned number = port->port;
    check(snCloseSerial(port), "cannot close virtual port " + std::to_string(number));
}

}  // namespace snctl

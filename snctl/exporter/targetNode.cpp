#include "targetNode.h"
#include "snline/hostPort.h"

#include <utility>

namespace snctl {

TargetNode::TargetNode(ProbeTarget target, bool modbusDebug)
    : target_(std::move(target)), modbusDebug_(modbusDebug) {}

TargetNode::~TargetNode() { close(); }

bool TargetNode::open() {
    node_ = openSensorNode(target_.device.c_str(), target_.baud, target_.slave);
    if (node_ == nullptr) return false;
    snModbusSetDebug(node_, modbusDebug_ ? 1 : 0);
    own_ = linkTimeoutsOf(node_);
    return true;
}

void TargetNode::close() {
    if (node_ != nullptr) closeSensorNode(node_);
    node_ = nullptr;
}

bool TargetNode::takeTurn(ProbeClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!turnFree_.wait_until(lock, deadline, [this] { return !turnTaken_; })) return false;
    turnTaken_ = true;
    return true;
}

void TargetNode::giveTurn() {
    {
        std::lock_guard lock(mutex_);
        turnTaken_ = false;
    }
    turnFree_.notify_one();
}

NodeReadings TargetNode::probe(ProbeClock::time_point deadline, const ProbeProgress& progress) {
    NodeReadings readings;
    if (!takeTurn(deadline)) {
        readings.failure = ProbeFailure::Deadline;
        return readings;
    }
    struct Turn {
        TargetNode& target;
        ~Turn() { target.giveTurn(); }
    } turn{*this};
    if (node_ == nullptr && !open()) {
        readings.failure = ProbeFailure::Open;
        return readings;
    }
    readNode(node_, own_, deadline, readings, progress);
    if (readings.failure == ProbeFailure::Link && !snline::isTcpLinkName(target_.device.c_str()))
        close();
    return readings;
}

}  // namespace snctl

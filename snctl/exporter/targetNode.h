// One configured target: its node, opened at its first probe and kept
// open, so a probe costs no open (and no write) after the first.  Probes of
// the target take turns: the node's link timeouts are set per probe, so
// two at once would cut each other's.
#pragma once

#include "exporterOptions.h"
#include "nodeProbe.h"

#include "snLib.h"

#include <condition_variable>
#include <mutex>

namespace snctl {

class TargetNode {
public:
    TargetNode(ProbeTarget target, bool modbusDebug);
    ~TargetNode();  // closes the node without traffic
    TargetNode(const TargetNode&) = delete;
    TargetNode& operator=(const TargetNode&) = delete;

    const ProbeTarget& target() const { return target_; }

    // One probe, after any probe of this target still running, all by
    // `deadline`.  A serial node whose link failed is closed, so the next
    // probe opens the device again (a replugged adapter comes back); the
    // library reconnects a TCP link by itself.
    NodeReadings probe(ProbeClock::time_point deadline, const ProbeProgress& progress);

private:
    // The turn: a flag under a mutex rather than a timed mutex, whose timed
    // lock the thread sanitizer cannot follow.
    bool takeTurn(ProbeClock::time_point deadline);
    void giveTurn();
    bool open();  // during the turn
    void close();

    const ProbeTarget target_;
    const bool modbusDebug_;
    std::mutex mutex_;
    std::condition_variable turnFree_;
    bool turnTaken_ = false;
    SensorNode* node_ = nullptr;
    LinkTimeouts own_{};
};

}  // namespace snctl

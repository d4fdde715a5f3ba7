// The reads of one probe on an open node, through the library only, each
// with a response timeout cut so that the whole probe ends by its
// deadline.  Nothing is written.
#pragma once

#include "nodeReadings.h"

#include "snLib.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

namespace snctl {

using ProbeClock = std::chrono::steady_clock;

// The link timeouts a node was opened with: the most a read may wait, and
// the byte timeout a failed read's recovery waits twice.
struct LinkTimeouts {
    std::chrono::microseconds response{};
    std::chrono::microseconds byte{};
};

LinkTimeouts linkTimeoutsOf(SensorNode* node);

// The response timeout for the next read with `remaining` time for
// `readsLeft` reads (one failure's recovery kept aside), at most the
// node's own; nothing when too little is left for a read at all.
std::optional<std::chrono::microseconds> readTimeout(std::chrono::microseconds remaining,
                                                     std::size_t readsLeft,
                                                     const LinkTimeouts& own);

// Called after each read with the readings so far; false stops the probe
// (nobody waits for it any more).
using ProbeProgress = std::function<bool(const NodeReadings&)>;

// Reads identity, configuration, power vector, device timeout, the analog
// channels (one request) and the four power outputs into `readings`.  A
// node that does not answer, a failed link or the deadline end the probe
// at once; a refused or garbled answer only loses that value.
void readNode(SensorNode* node, const LinkTimeouts& own, ProbeClock::time_point deadline,
              NodeReadings& readings, const ProbeProgress& progress);

// The failure kind of a failed library call's errno.
ProbeFailure classifyFailure(int errorNumber);

}  // namespace snctl

// The hand-over of one probe between the HTTP handler, which must answer
// by the scrape's deadline, and the worker reading the node, which may be
// held up longer (an open, or another node's transaction under the
// library's one lock).  At the deadline the handler answers with what has
// been read so far, and the worker stops at its next read.
#pragma once

#include "nodeReadings.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace snctl {

class ProbeJob {
public:
    using Clock = std::chrono::steady_clock;

    // Worker: the readings so far; false once the answer has gone out.
    bool publish(const NodeReadings& readings);
    // Worker: the probe's end.
    void finish(const NodeReadings& readings);

    // Handler: the readings at the probe's end, or at `deadline` those so
    // far, not complete and failed by the deadline unless a read failed
    // before.
    NodeReadings await(Clock::time_point deadline);

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    NodeReadings readings_;
    bool done_ = false;
    bool answered_ = false;
};

}  // namespace snctl

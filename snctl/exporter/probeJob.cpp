#include "probeJob.h"

namespace snctl {

bool ProbeJob::publish(const NodeReadings& readings) {
    std::lock_guard lock(mutex_);
    if (!answered_) readings_ = readings;
    return !answered_;
}

void ProbeJob::finish(const NodeReadings& readings) {
    std::lock_guard lock(mutex_);
    if (answered_) return;
    readings_ = readings;
    done_ = true;
    finished_.notify_all();
}

NodeReadings ProbeJob::await(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    finished_.wait_until(lock, deadline, [this] { return done_; });
    answered_ = true;
    if (done_) return readings_;
    NodeReadings sofar = readings_;
    sofar.complete = false;
    if (sofar.failure == ProbeFailure::None) sofar.failure = ProbeFailure::Deadline;
    return sofar;
}

}  // namespace snctl

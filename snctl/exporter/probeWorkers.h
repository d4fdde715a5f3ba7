// The threads that read nodes for probes.  A worker may outlive the
// request that started it (its answer went out at the deadline), so the
// workers are counted and the end of the exporter waits for them: none
// is left inside the library, or holding a target, when they go.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace snctl {

class ProbeWorkers {
public:
    ProbeWorkers() = default;
    ~ProbeWorkers();  // waits until every worker has ended
    ProbeWorkers(const ProbeWorkers&) = delete;
    ProbeWorkers& operator=(const ProbeWorkers&) = delete;

    // Runs `work` on a thread of its own; std::system_error when no thread
    // can be made.  An exception from `work` ends only that worker.
    void start(std::function<void()> work);

private:
    void ended();

    std::mutex mutex_;
    std::condition_variable allEnded_;
    std::size_t running_ = 0;
};

}  // namespace snctl

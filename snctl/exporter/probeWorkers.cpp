#include "probeWorkers.h"

#include <thread>
#include <utility>

namespace snctl {

ProbeWorkers::~ProbeWorkers() {
    std::unique_lock lock(mutex_);
    allEnded_.wait(lock, [this] { return running_ == 0; });
}

void ProbeWorkers::start(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    try {
        std::thread([this, work = std::move(work)]() mutable {
            try {
                work();
            } catch (...) {
                // The request it served has its answer (a failed probe).
            }
            work = nullptr;  // what it holds goes before the count says it ended
            ended();
        }).detach();
    } catch (...) {
        ended();
        throw;
    }
}

void ProbeWorkers::ended() {
    std::lock_guard lock(mutex_);
    --running_;
    allEnded_.notify_all();
}

}  // namespace snctl

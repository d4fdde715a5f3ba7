// The signals that ask a program to stop, taken synchronously: blocked for
// the thread that makes this object and for every thread it starts later,
// so no handler runs in the middle of anything and exactly one place sees
// them.
#pragma once

#include <signal.h>

#include <chrono>
#include <initializer_list>

namespace sncommon {

class StopSignals {
public:
    explicit StopSignals(std::initializer_list<int> signals = {SIGINT, SIGTERM, SIGHUP});
    ~StopSignals();  // unblocks them again
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to `timeout` (for ever when negative) for one of them; its
    // number, or 0 when none came.
    int wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) const;
    // Readable while one is pending, for poll loops; take() consumes it.
    int fd() const { return fd_; }
    int take() const { return wait(std::chrono::milliseconds(0)); }

private:
    sigset_t set_{};
    sigset_t previous_{};
    int fd_ = -1;
};

}  // namespace sncommon

// Wall time and the calling thread's CPU time over a stretch of code.
#pragma once

#include <chrono>
#include <ctime>

namespace snbench {

class Span {
public:
    Span() : wall0_(std::chrono::steady_clock::now()), cpu0_(threadCpu()) {}
    double wallSeconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0_).count();
    }
    double cpuSeconds() const { return threadCpu() - cpu0_; }

private:
    static double threadCpu() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
    std::chrono::steady_clock::time_point wall0_;
    double cpu0_;
};

}  // namespace snbench

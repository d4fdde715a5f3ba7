#include "sncommon/linePacer.h"

#include <algorithm>
#include <cmath>

namespace sncommon {

LinePacer::LinePacer(long bitsPerSecond, int bitsPerByte, Clock::time_point now)
    : bytesPerSecond_(static_cast<double>(bitsPerSecond) / bitsPerByte), last_(now) {}

void LinePacer::catchUp(Clock::time_point now) {
    const double elapsed = std::chrono::duration<double>(now - last_).count();
    credit_ = std::min(kBurst, credit_ + elapsed * bytesPerSecond_);
    last_ = now;
}

std::size_t LinePacer::allowance(Clock::time_point now) {
    catchUp(now);
    return credit_ > 0 ? static_cast<std::size_t>(credit_) : 0;  // in debt: nothing yet
}

void LinePacer::spent(std::size_t bytes) {
    // Never below one burst of debt: a node that took a lot at once must
    // not stall the next write for long.
    credit_ = std::max(-kBurst, credit_ - static_cast<double>(bytes));
}

std::chrono::milliseconds LinePacer::waitFor(std::size_t bytes, Clock::time_point now) {
    catchUp(now);
    // From the credit itself: in debt, the debt has to be worked off first.
    const double needed = std::min(kBurst, static_cast<double>(bytes)) - std::floor(credit_);
    if (needed <= 0) return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(
        static_cast<long>(std::ceil(needed * 1000.0 / bytesPerSecond_)));
}

}  // namespace sncommon

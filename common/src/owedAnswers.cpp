#include "sncommon/owedAnswers.h"

#include <algorithm>

namespace sncommon {

void OwedAnswers::owe(uint8_t function, StepClock::time_point failedAt) {
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].function == function) {
            debts_[i].failedAt = failedAt;
            return;
        }
    }
    if (count_ == debts_.size()) {  // cannot happen with the node's functions; keep the newest
        for (std::size_t i = 1; i < count_; ++i) debts_[i - 1] = debts_[i];
        --count_;
    }
    debts_[count_++] = Debt{function, failedAt};
}

const StepClock::time_point* OwedAnswers::owes(uint8_t function, StepClock::time_point now,
                                               StepClock::duration horizon) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (now - std::max(debts_[i].failedAt, lastHeard_) < horizon) debts_[kept++] = debts_[i];
    }
    count_ = kept;
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].function == function) return &debts_[i].failedAt;
    }
    return nullptr;
}

}  // namespace sncommon

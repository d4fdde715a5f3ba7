#include "snline/owedAnswers.h"

namespace snline {

void OwedAnswers::owe(uint8_t function, std::size_t answerLength, StepClock::time_point failedAt) {
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].function == function && debts_[i].answerLength == answerLength) {
            debts_[i].failedAt = failedAt;
            debts_[i].order = nextOrder_++;
            debts_[i].shared = true;
            return;
        }
    }
    if (count_ == debts_.size()) {  // keep the newest
        for (std::size_t i = 1; i < count_; ++i) debts_[i - 1] = debts_[i];
        --count_;
    }
    debts_[count_++] = Debt{function, answerLength, failedAt, nextOrder_++, false};
}

const StepClock::time_point* OwedAnswers::owes(uint8_t function, StepClock::time_point now,
                                               StepClock::duration horizon) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (now - debts_[i].failedAt < horizon) debts_[kept++] = debts_[i];
    }
    count_ = kept;
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].function == function) return &debts_[i].failedAt;
    }
    return nullptr;
}

void OwedAnswers::paidByShape(uint8_t function, std::size_t answerLength) {
    const Debt* paid = nullptr;
    for (std::size_t i = 0; i < count_; ++i) {
        const Debt& debt = debts_[i];
        if (debt.function != function) continue;
        if (debt.answerLength == 0) return;  // no read: any of its frames could be it
        if (debt.answerLength != answerLength) continue;
        if (paid != nullptr) return;  // two could have it
        paid = &debt;
    }
    if (paid == nullptr || paid->shared) return;
    const uint64_t upTo = paid->order;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].order > upTo) debts_[kept++] = debts_[i];
    }
    count_ = kept;
}

bool OwedAnswers::owesShape(uint8_t function, std::size_t answerLength) const {
    for (std::size_t i = 0; i < count_; ++i) {
        const Debt& debt = debts_[i];
        if (debt.function == function &&
            (debt.answerLength == 0 || debt.answerLength == answerLength))
            return true;
    }
    return false;
}

}  // namespace snline

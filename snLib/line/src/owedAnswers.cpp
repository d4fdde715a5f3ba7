#include "snline/owedAnswers.h"

#include "snline/pduShape.h"

#include <algorithm>
#include <cstring>

namespace snline {

uint64_t OwedAnswers::owe(const uint8_t* request, std::size_t size, bool garbled,
                          StepClock::time_point failedAt, LineBook& book, uint8_t slave) {
    Debt debt;
    std::memcpy(debt.head.data(), request, std::min(size, Debt::kHeadSize));
    debt.requestSize = size;
    debt.answerLength = readAnswerLength(request, size);
    debt.failedAt = failedAt;
    debt.order = nextOrder_++;
    debt.clouded = garbled;
    for (std::size_t i = 0; i < count_; ++i) {
        Debt& same = debts_[i];
        if (same.function() == debt.function() && same.answerLength == debt.answerLength) {
            // One answer can no longer be told from the other's.
            Debt older = same;
            older.clouded = true;
            debt.shared = true;
            debt.clouded = true;
            same = debt;
            book.unpaid(slave, older, DebtEnd::Overtaken);
            return debt.order;
        }
    }
    if (count_ == debts_.size()) {  // keep the newest
        const Debt oldest = debts_[0];
        for (std::size_t i = 1; i < count_; ++i) debts_[i - 1] = debts_[i];
        --count_;
        book.unpaid(slave, oldest, DebtEnd::Expired);
    }
    debts_[count_++] = debt;
    return debt.order;
}

void OwedAnswers::settle(LineBook& book, uint8_t slave) {
    // Taken out first: the book may look at what is still owed.
    std::array<Debt, 24> ended = debts_;
    const std::size_t endedCount = count_;
    count_ = 0;
    for (std::size_t i = 0; i < endedCount; ++i) book.unpaid(slave, ended[i], DebtEnd::Overtaken);
}

void OwedAnswers::forget(StepClock::time_point now, StepClock::duration horizon, LineBook& book,
                         uint8_t slave) {
    std::size_t kept = 0;
    std::array<Debt, 24> ended{};
    std::size_t endedCount = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (now - debts_[i].failedAt < horizon) {
            debts_[kept++] = debts_[i];
        } else {
            ended[endedCount++] = debts_[i];
        }
    }
    count_ = kept;
    for (std::size_t i = 0; i < endedCount; ++i) book.unpaid(slave, ended[i], DebtEnd::Expired);
}

const StepClock::time_point* OwedAnswers::owes(uint8_t function) const {
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].function() == function) return &debts_[i].failedAt;
    }
    return nullptr;
}

bool OwedAnswers::owesShape(uint8_t function, std::size_t answerLength) const {
    for (std::size_t i = 0; i < count_; ++i) {
        const Debt& debt = debts_[i];
        if (debt.function() == function &&
            (debt.answerLength == 0 || debt.answerLength == answerLength))
            return true;
    }
    return false;
}

const Debt* OwedAnswers::onlyDebtFor(const uint8_t* pdu, std::size_t length) const {
    if (length == 0) return nullptr;
    const Debt* only = nullptr;
    for (std::size_t i = 0; i < count_; ++i) {
        const Debt& debt = debts_[i];
        if (!answers(debt.head.data(), debt.requestSize, pdu, length)) continue;
        if (only != nullptr) return nullptr;  // two could have it
        only = &debt;
    }
    return only != nullptr && !only->shared ? only : nullptr;
}

void OwedAnswers::endBefore(uint64_t order, LineBook& book, uint8_t slave) {
    std::array<Debt, 24> ended{};
    std::size_t endedCount = 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].order >= order) {
            debts_[kept++] = debts_[i];
        } else {
            ended[endedCount++] = debts_[i];
        }
    }
    count_ = kept;
    for (std::size_t i = 0; i < endedCount; ++i) book.unpaid(slave, ended[i], DebtEnd::Overtaken);
}

bool OwedAnswers::answeredLate(const uint8_t* pdu, std::size_t length, LineBook& book,
                               uint8_t slave) {
    const auto function = static_cast<uint8_t>(pdu[0] & 0x7F);
    const Debt* only = onlyDebtFor(pdu, length);
    if (only == nullptr) {
        // Whatever it answered, that request's outcome can no longer be told.
        bool owed = false;
        for (std::size_t i = 0; i < count_; ++i) {
            if (debts_[i].function() != function) continue;
            debts_[i].clouded = true;
            owed = true;
        }
        return owed;
    }
    const Debt answered = *only;
    endBefore(answered.order, book, slave);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (debts_[i].order != answered.order) debts_[kept++] = debts_[i];
    }
    count_ = kept;
    book.paid(slave, answered, pdu, length);
    return true;
}

}  // namespace snline

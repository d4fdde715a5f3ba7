// What a slave on an RTU line may still answer.  RTU answers carry no
// transaction id: a node that answers after the master gave up is heard
// answering whatever the master asks next.  A node answers in order, so a
// request it did not answer in time is owed until it answers a later one;
// until then no request of the same function (whose answer, or exception,
// could be the owed one) may be sent to it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace snline {

using StepClock = std::chrono::steady_clock;

class OwedAnswers {
public:
    // A request of `function` went unanswered (or garbled) at `failedAt`;
    // a read's answer would have been `answerLength` long (0: not a read).
    void owe(uint8_t function, std::size_t answerLength, StepClock::time_point failedAt);
    // The slave answered a later request: every earlier answer has come or
    // never will.
    void settle() { count_ = 0; }
    // When the owed answer of `function` was given up on, or nullptr when
    // none is owed.  Debts older than `horizon` are forgotten first: a node
    // silent that long is taken to have dropped them.
    const StepClock::time_point* owes(uint8_t function, StepClock::time_point now,
                                      StepClock::duration horizon);
    // Whether an owed answer could look like a normal answer of `function`
    // that is `answerLength` long (any length for a debt that is no read).
    bool owesShape(uint8_t function, std::size_t answerLength) const;
    // A normal answer of `function`, `answerLength` long, came late.  When
    // one debt alone can have it (a read of that length, owed once), it is
    // that request's answer: the node answers in order, so the debts from
    // before that request are paid too.  Those from after it remain.
    void paidByShape(uint8_t function, std::size_t answerLength);
    bool empty() const { return count_ == 0; }

private:
    struct Debt {
        uint8_t function = 0;
        std::size_t answerLength = 0;
        StepClock::time_point failedAt{};
        uint64_t order = 0;   // when it was owed, among this slave's debts
        bool shared = false;  // owed twice: its answer names neither
    };
    // One debt per function and read length; beyond this many the oldest goes.
    std::array<Debt, 24> debts_{};
    std::size_t count_ = 0;
    uint64_t nextOrder_ = 0;
};

// Who owes what on one line, and what to do when an owed answer comes.
class LineBook {
public:
    virtual ~LineBook() = default;
    // The debts of `slave`, or nullptr when they are not kept for it (its
    // answers are then matched by shape alone).
    virtual OwedAnswers* owedBy(uint8_t slave) = 0;
    // An answer that came `afterTimeout` after the request it answered was
    // given up on, and was dropped.
    virtual void lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) = 0;
};

}  // namespace snline

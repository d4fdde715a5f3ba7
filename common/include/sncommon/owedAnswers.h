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

namespace sncommon {

using StepClock = std::chrono::steady_clock;

class OwedAnswers {
public:
    // A request of `function` went unanswered (or garbled) at `failedAt`.
    void owe(uint8_t function, StepClock::time_point failedAt);
    // The slave answered a later request: every earlier answer has come or
    // never will.
    void settle() { count_ = 0; }
    // A frame of this slave came, answer or not: a node still sending is
    // still working through what it was asked.
    void heard(StepClock::time_point when) { lastHeard_ = when; }
    // When the owed answer of `function` was given up on, or nullptr when
    // none is owed.  Debts the slave has been silent about for `horizon`
    // (since they were given up on, and since it was last heard) are
    // forgotten first: it is taken to have dropped them.
    const StepClock::time_point* owes(uint8_t function, StepClock::time_point now,
                                      StepClock::duration horizon);
    bool empty() const { return count_ == 0; }

private:
    struct Debt {
        uint8_t function = 0;
        StepClock::time_point failedAt{};
    };
    // One debt per function, and the node has fewer functions than this.
    std::array<Debt, 12> debts_{};
    std::size_t count_ = 0;
    StepClock::time_point lastHeard_{};
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

}  // namespace sncommon

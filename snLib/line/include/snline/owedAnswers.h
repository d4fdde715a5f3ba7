// What a slave on an RTU line may still answer.  RTU answers carry no
// transaction id: a node that answers after the master gave up is heard
// answering whatever the master asks next.  A node answers in order, so a
// request it did not answer in time is owed until it answers a later one;
// until then no request of the same function (whose answer, or exception,
// could be the owed one) may be sent to it.  Each debt keeps the head of
// its request, so that a late answer that can be no other debt's is known
// for the answer of that request, and its news is not lost.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace snline {

using StepClock = std::chrono::steady_clock;

// One request the slave did not answer in time.
struct Debt {
    // Function, addresses and quantities: all an answer's shape depends on.
    static constexpr std::size_t kHeadSize = 10;
    std::array<uint8_t, kHeadSize> head{};
    std::size_t requestSize = 0;
    std::size_t answerLength = 0;  // of a read's normal answer; 0 for other requests
    StepClock::time_point failedAt{};
    uint64_t order = 0;    // when it was owed, among this slave's debts
    bool shared = false;   // owed twice: its answer names neither request
    bool clouded = false;  // the node did answer it (garbled), or a frame that
                           // may have been its answer could not be read
    uint8_t function() const { return head[0]; }
};

// Why a debt ended without its answer.
enum class DebtEnd {
    Overtaken,  // the slave answered a later request first
    Expired,    // the slave stayed silent past the debt's life
};

class LineBook;

class OwedAnswers {
public:
    // `request` (a PDU of `size` bytes) went unanswered at `failedAt`;
    // `garbled` when something came back that was not a whole answer.
    // Returns the debt's order, which names it in the book's news.  A debt
    // of the same shape ends in `book`, clouded (the two answers could not
    // be told apart); past the most kept, the oldest ends as expired.
    uint64_t owe(const uint8_t* request, std::size_t size, bool garbled,
                 StepClock::time_point failedAt, LineBook& book, uint8_t slave);
    // The slave answered a later request: every debt left ends unpaid.
    void settle(LineBook& book, uint8_t slave);
    // Forgets silently (a link opened anew).
    void clear() { count_ = 0; }
    // Debts older than `horizon` end unpaid: a node silent that long is
    // taken to have dropped them.
    void forget(StepClock::time_point now, StepClock::duration horizon, LineBook& book,
                uint8_t slave);
    // When the owed answer of `function` was given up on, or nullptr.
    const StepClock::time_point* owes(uint8_t function) const;
    // Whether an owed answer could look like a normal answer of `function`
    // that is `answerLength` long (any length for a debt that is no read).
    bool owesShape(uint8_t function, std::size_t answerLength) const;
    // A late frame of this slave (its PDU; `length` 0 when it could not be
    // read whole).  When exactly one debt can have it, that request is
    // answered: the debts from before it end unpaid (the node answers in
    // order), it is paid with the frame, and those after it remain.  A
    // frame no debt can be told for clouds the debts of its function.
    // True when it was some debt's answer.
    bool answeredLate(const uint8_t* pdu, std::size_t length, LineBook& book, uint8_t slave);
    bool empty() const { return count_ == 0; }

private:
    const Debt* onlyDebtFor(const uint8_t* pdu, std::size_t length) const;
    void endBefore(uint64_t order, LineBook& book, uint8_t slave);

    // One debt per request shape; beyond this many the oldest goes.
    std::array<Debt, 24> debts_{};
    std::size_t count_ = 0;
    uint64_t nextOrder_ = 0;
};

// Who owes what on one line, and what becomes of each debt.
class LineBook {
public:
    virtual ~LineBook() = default;
    // The debts of `slave`, or nullptr when they are not kept for it (its
    // answers are then matched by shape alone).
    virtual OwedAnswers* owedBy(uint8_t slave) = 0;
    // A frame came `afterTimeout` after the request it answers was given
    // up on.
    virtual void lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) = 0;
    // The late answer `pdu` is the one of `debt`'s request (an exception
    // too): what the node did with that request is known after all.
    virtual void paid(uint8_t slave, const Debt& debt, const uint8_t* pdu, std::size_t length) {
        (void)slave, (void)debt, (void)pdu, (void)length;
    }
    // `debt` ends without its answer.
    virtual void unpaid(uint8_t slave, const Debt& debt, DebtEnd why) {
        (void)slave, (void)debt, (void)why;
    }
};

}  // namespace snline

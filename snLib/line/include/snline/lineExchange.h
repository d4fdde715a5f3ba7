// One request and its answer on a Modbus RTU line, kept in step with the
// nodes on it.  While the master waits, a well-formed frame that is not
// the answer (another slave's, another function's, another length's) is
// dropped and the wait goes on within the same response timeout.  After a
// request went unanswered, nothing is sent to that slave that its late
// answer could be taken for: a request of the same function waits behind
// a short read of another function (a probe), and everything the node
// sends before the probe's answer is dropped.  The library and the bus
// daemon share this one piece.
#pragma once

#include <modbus.h>

#include <cstddef>
#include <cstdint>

#include "snline/owedAnswers.h"

namespace snline {

struct Exchanged {
    enum class Kind {
        Answer,    // the answer PDU is in the caller's buffer (an exception too)
        NoAnswer,  // nothing that answers it within the response timeout
        Garbled,   // a corrupt frame; the line was let fall silent after it
        Failed,    // the device or the call itself failed (errorNumber)
    };
    Kind kind = Kind::NoAnswer;
    std::size_t length = 0;  // of the answer PDU
    int errorNumber = 0;     // ETIMEDOUT, EMBBADCRC, or what the device said
    bool owed = false;       // the request is still owed: its answer may yet come
    uint64_t debt = 0;       // and this names it (Debt::order)
};

// Sends `pdu` to `slave` and waits for its answer, which lands in
// `answer` (room for MODBUS_RTU_MAX_ADU_LENGTH bytes).  Debts and late
// answers are kept in `book`.  Leaves the context's slave set to `slave`.
// A request that goes unanswered or garbled is settled before the call
// returns: a probe goes at once, and the request's own answer, when it
// comes before the probe's, is the call's answer.  A wait that late
// answers hold up lasts 1.25 response timeouts at most, so a failed call
// returns within 2.5 of them (3.75 when an answer of the same function
// was still owed and a probe went first, one more when every probe's
// shape was owed too).  An answered call sends nothing extra and leaves
// errno as it was.
Exchanged exchange(modbus_t* ctx, LineBook& book, uint8_t slave, const uint8_t* pdu,
                   std::size_t size, uint8_t* answer);

// Brings the line in step with `slave` without a request of the caller's:
// debts past their life end, and while any is left a probe goes and is
// answered.  True when nothing is owed any more (the book has had the news
// of every debt); false when the slave did not answer.
bool settleOwed(modbus_t* ctx, LineBook& book, uint8_t slave);

// How long a debt is kept: a node silent for ten response timeouts (and
// at least ten seconds) is taken to have dropped what it owed.
StepClock::duration debtHorizon(modbus_t* ctx);

}  // namespace snline

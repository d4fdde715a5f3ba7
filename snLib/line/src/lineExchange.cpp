#include "snline/lineExchange.h"

#include "snline/foreignFrame.h"
#include "snline/lineRecovery.h"
#include "snline/pduShape.h"
#include "snline/probes.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

namespace snline {

namespace {

using Clock = StepClock;
using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Frames that came while nobody waited are looked at up to this many.
constexpr int kMostSwept = 64;
constexpr std::size_t kRtuOverhead = 3;  // slave address in front, CRC behind

Clock::duration timeoutOf(modbus_t* ctx, int (*get)(modbus_t*, uint32_t*, uint32_t*)) {
    uint32_t sec = 0, usec = 0;
    get(ctx, &sec, &usec);
    return std::chrono::seconds(sec) + microseconds(usec);
}

// One frame, waiting at most `within` for its first byte.
int receiveWithin(modbus_t* ctx, uint8_t* frame, Clock::duration within) {
    uint32_t sec = 0, usec = 0;
    modbus_get_response_timeout(ctx, &sec, &usec);
    const auto us = std::max<long long>(1, duration_cast<microseconds>(within).count());
    modbus_set_response_timeout(ctx, static_cast<uint32_t>(us / 1000000),
                                static_cast<uint32_t>(us % 1000000));
    const int rc = modbus_receive_confirmation(ctx, frame);
    const int failure = errno;
    modbus_set_response_timeout(ctx, sec, usec);
    errno = failure;
    return rc;
}

// A frame that is not the awaited answer: if its slave owes an answer of
// its function, it is a late answer, and when it can be only one debt's it
// pays that debt.  (A frame of a slave the context does not address comes
// back unchecked, with its first two bytes read: `length` is then 0.)
// True when it was such a late answer.
bool noteDropped(LineBook& book, const uint8_t* frame, std::size_t length, Clock::time_point now) {
    OwedAnswers* owed = book.owedBy(frame[0]);
    if (owed == nullptr) return false;
    const auto function = static_cast<uint8_t>(frame[1] & 0x7F);
    const Clock::time_point* failedAt = owed->owes(function);
    if (failedAt == nullptr) return false;
    book.lateAnswer(frame[0], duration_cast<milliseconds>(now - *failedAt));
    owed->answeredLate(frame + 1, length, book, frame[0]);
    return true;
}

// Lets the line fall silent after a corrupt frame, so that the next frame
// is read from its start.
void dropTheRest(modbus_t* ctx, int failure) {
    errno = failure;
    recoverFromLineFailure(ctx, -1);
}

// What arrived while no request was waiting: owed answers are counted, and
// nothing of it can be taken for the next request's answer.
void sweep(modbus_t* ctx, LineBook& book, uint8_t* frame) {
    const int fd = modbus_get_socket(ctx);
    for (int i = 0; i < kMostSwept && fd >= 0; ++i) {
        pollfd in{fd, POLLIN, 0};
        if (poll(&in, 1, 0) <= 0 || (in.revents & POLLIN) == 0) return;
        const int rc = receiveWithin(ctx, frame, timeoutOf(ctx, modbus_get_byte_timeout));
        if (rc < 0) {
            dropTheRest(ctx, EMBBADDATA);
            return;
        }
        noteDropped(book, frame, receivedPduLength(frame, rc), Clock::now());
    }
    modbus_flush(ctx);
}

Exchanged unanswered(LineBook& book, uint8_t slave, const uint8_t* pdu, std::size_t size,
                     Exchanged::Kind kind, int errorNumber) {
    Exchanged done{kind, 0, errorNumber};
    if (OwedAnswers* owed = book.owedBy(slave)) {
        done.debt =
            owed->owe(pdu, size, kind != Exchanged::Kind::NoAnswer, Clock::now(), book, slave);
        done.owed = true;
    }
    errno = errorNumber;
    return done;
}

Exchanged failed(int errorNumber) {
    errno = errorNumber;
    return Exchanged{Exchanged::Kind::Failed, 0, errorNumber};
}

// Once a frame failed: a timeout after the first bytes came (before the
// whole wait was over) is a torn frame; a bad CRC is corrupt; anything
// else is the device's or the call's own failure.
Exchanged afterFailedFrame(modbus_t* ctx, LineBook& book, uint8_t slave, const uint8_t* pdu,
                           std::size_t size, Clock::time_point deadline) {
    const int failure = errno;
    const bool torn = failure == ETIMEDOUT && Clock::now() + milliseconds(1) < deadline;
    if (failure == ETIMEDOUT && !torn)
        return unanswered(book, slave, pdu, size, Exchanged::Kind::NoAnswer, ETIMEDOUT);
    if (torn || failure == EMBBADCRC || failure == EMBBADDATA || failure == EMBBADSLAVE) {
        dropTheRest(ctx, failure);
        return unanswered(book, slave, pdu, size, Exchanged::Kind::Garbled,
                          torn ? EMBBADDATA : failure);
    }
    // The request went out: whatever failed here, its answer may still come.
    return unanswered(book, slave, pdu, size, Exchanged::Kind::Failed, failure);
}

// An exception of a function the slave owes an answer of may be that
// answer: it is not known to be this request's.
bool ambiguousException(LineBook& book, uint8_t slave, const uint8_t* pdu) {
    OwedAnswers* owed = book.owedBy(slave);
    return (pdu[0] & 0x80) != 0 && owed != nullptr &&
           owed->owes(static_cast<uint8_t>(pdu[0] & 0x7F)) != nullptr;
}

// Sends one request and waits for the frame that answers it; a wait that
// late answers extend ends `longest` after the request at most.
Exchanged transactOnce(modbus_t* ctx, LineBook& book, uint8_t slave, const uint8_t* pdu,
                       std::size_t size, uint8_t* answer, Clock::duration longest) {
    uint8_t raw[MODBUS_MAX_PDU_LENGTH + 1];
    raw[0] = slave;
    std::memcpy(raw + 1, pdu, size);
    if (modbus_send_raw_request(ctx, raw, static_cast<int>(size + 1)) < 0) return failed(errno);
    const Clock::duration timeout = timeoutOf(ctx, modbus_get_response_timeout);
    const Clock::time_point sent = Clock::now();
    Clock::time_point deadline = sent + timeout;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return unanswered(book, slave, pdu, size, Exchanged::Kind::NoAnswer, ETIMEDOUT);
        const int rc = receiveWithin(ctx, answer, deadline - now);
        if (rc < 0) return afterFailedFrame(ctx, book, slave, pdu, size, deadline);
        const auto length = static_cast<std::size_t>(rc);
        if (length > kRtuOverhead && answer[0] == slave &&
            answers(pdu, size, answer + 1, length - kRtuOverhead) &&
            !ambiguousException(book, slave, answer + 1)) {
            if (OwedAnswers* owed = book.owedBy(slave)) owed->settle(book, slave);
            std::memmove(answer, answer + 1, length - kRtuOverhead);
            return Exchanged{Exchanged::Kind::Answer, length - kRtuOverhead, 0};
        }
        // A node still sending what it owed is busy working through what
        // it was asked, in order: its answer to this request comes after
        // them, so the wait goes on.
        if (noteDropped(book, answer, receivedPduLength(answer, rc), Clock::now()) &&
            answer[0] == slave)
            deadline = std::max(deadline, std::min(Clock::now() + timeout, sent + longest));
    }
}

// Listens for one response timeout, sending nothing: late answers that
// come pay their debts (and those before them).
void listenForOwed(modbus_t* ctx, LineBook& book, uint8_t* frame) {
    const Clock::time_point deadline = Clock::now() + timeoutOf(ctx, modbus_get_response_timeout);
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        const int rc = receiveWithin(ctx, frame, deadline - now);
        if (rc < 0) {
            if (errno != ETIMEDOUT) dropTheRest(ctx, EMBBADDATA);
            return;
        }
        noteDropped(book, frame, receivedPduLength(frame, rc), Clock::now());
    }
}

// The wait for a probe sent to settle a failed request: one response
// timeout, and a quarter more for an answer that late answers held up.
Clock::duration settleWait(Clock::duration timeout) { return timeout + timeout / 4; }

// Before a request of a function the slave owes an answer of: a probe of
// another shape, answered, shows every owed answer has come or never will.
// An Answer when the line is in step for the request.
Exchanged inStepFor(modbus_t* ctx, LineBook& book, uint8_t slave, uint8_t function,
                    uint8_t* scratch) {
    const Exchanged inStep{Exchanged::Kind::Answer, 0, 0};
    OwedAnswers* owed = book.owedBy(slave);
    if (owed == nullptr) return inStep;
    owed->forget(Clock::now(), debtHorizon(ctx), book, slave);
    if (owed->owes(function) == nullptr) return inStep;
    const uint8_t* probe = freeProbe(*owed);
    if (probe == nullptr) {
        listenForOwed(ctx, book, scratch);
        probe = freeProbe(*owed);
    }
    if (probe == nullptr) {  // not sent, so nothing more is owed
        errno = ETIMEDOUT;
        return Exchanged{Exchanged::Kind::NoAnswer, 0, ETIMEDOUT};
    }
    const Clock::duration timeout = timeoutOf(ctx, modbus_get_response_timeout);
    return transactOnce(ctx, book, slave, probe, kProbeSize, scratch, settleWait(timeout));
}

// Passes everything on to the line's book, but keeps the late answer of
// one request: the caller still waiting for it takes it as its own.
class CatchingBook : public LineBook {
public:
    CatchingBook(LineBook& book, uint8_t slave, uint64_t debt, uint8_t* answer)
        : book_(book), slave_(slave), debt_(debt), answer_(answer) {}
    OwedAnswers* owedBy(uint8_t slave) override { return book_.owedBy(slave); }
    void lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) override {
        book_.lateAnswer(slave, afterTimeout);
    }
    void paid(uint8_t slave, const Debt& debt, const uint8_t* pdu, std::size_t length) override {
        if (slave != slave_ || debt.order != debt_) return book_.paid(slave, debt, pdu, length);
        std::memcpy(answer_, pdu, length);
        length_ = length;
    }
    void unpaid(uint8_t slave, const Debt& debt, DebtEnd why) override {
        book_.unpaid(slave, debt, why);
    }
    std::size_t caught() const { return length_; }

private:
    LineBook& book_;
    uint8_t slave_;
    uint64_t debt_;
    uint8_t* answer_;
    std::size_t length_ = 0;
};

// After a request went unanswered or garbled: a probe at once, answered
// in order, tells its fate before the call returns.  A frame that comes
// before the probe's answer and can only be the request's is its answer.
Exchanged settleAfterFailure(modbus_t* ctx, LineBook& book, uint8_t slave, const Exchanged& failure,
                             uint8_t* answer) {
    const OwedAnswers* owed = book.owedBy(slave);
    const uint8_t* probe = owed != nullptr ? freeProbe(*owed) : nullptr;
    if (probe == nullptr) return failure;
    CatchingBook catching(book, slave, failure.debt, answer);
    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
    const Clock::duration timeout = timeoutOf(ctx, modbus_get_response_timeout);
    const Exchanged probed =
        transactOnce(ctx, catching, slave, probe, kProbeSize, frame, settleWait(timeout));
    if (catching.caught() != 0) return Exchanged{Exchanged::Kind::Answer, catching.caught(), 0};
    if (probed.kind == Exchanged::Kind::Failed) return probed;
    Exchanged settled = failure;
    // Answered: the book has had the request's news, nothing is owed.
    settled.owed = probed.kind != Exchanged::Kind::Answer;
    errno = failure.errorNumber;
    return settled;
}

}  // namespace

StepClock::duration debtHorizon(modbus_t* ctx) {
    return std::max<Clock::duration>(10 * timeoutOf(ctx, modbus_get_response_timeout),
                                     std::chrono::seconds(10));
}

Exchanged exchange(modbus_t* ctx, LineBook& book, uint8_t slave, const uint8_t* pdu,
                   std::size_t size, uint8_t* answer) {
    if (size == 0 || size > MODBUS_MAX_PDU_LENGTH) return failed(EINVAL);
    const int callersErrno = errno;
    modbus_set_slave(ctx, slave);
    sweep(ctx, book, answer);
    Exchanged inStep = inStepFor(ctx, book, slave, pdu[0], answer);
    if (inStep.kind != Exchanged::Kind::Answer) {
        inStep.owed = false;  // the probe is owed; the request never went
        return inStep;
    }
    const Clock::duration timeout = timeoutOf(ctx, modbus_get_response_timeout);
    Exchanged done = transactOnce(ctx, book, slave, pdu, size, answer, settleWait(timeout));
    if (done.owed && done.kind != Exchanged::Kind::Failed)
        done = settleAfterFailure(ctx, book, slave, done, answer);
    // A call that succeeded says nothing in errno, whatever the sweep and
    // the waits met on the way.
    if (done.kind == Exchanged::Kind::Answer) errno = callersErrno;
    return done;
}

bool settleOwed(modbus_t* ctx, LineBook& book, uint8_t slave) {
    const int callersErrno = errno;
    modbus_set_slave(ctx, slave);
    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
    sweep(ctx, book, frame);
    OwedAnswers* owed = book.owedBy(slave);
    if (owed == nullptr) return true;
    owed->forget(Clock::now(), debtHorizon(ctx), book, slave);
    if (owed->empty()) {
        errno = callersErrno;
        return true;
    }
    const uint8_t* probe = freeProbe(*owed);
    if (probe == nullptr) {
        listenForOwed(ctx, book, frame);
        probe = freeProbe(*owed);
    }
    if (probe == nullptr) {
        errno = ETIMEDOUT;
        return false;
    }
    const Clock::duration timeout = timeoutOf(ctx, modbus_get_response_timeout);
    const Exchanged done =
        transactOnce(ctx, book, slave, probe, kProbeSize, frame, settleWait(timeout));
    if (done.kind != Exchanged::Kind::Answer) return false;
    errno = callersErrno;
    return true;
}

}  // namespace snline

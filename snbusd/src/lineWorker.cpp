#include "lineWorker.h"

#include <cstring>
#include <string>

namespace snbusd {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kReopenPace(1);

const char* refusalReason(uint8_t code, const Request& request, const Policy& policy) {
    if (code == kGatewayTargetFailed) return "unit";
    if (code == kIllegalDataValue) return "malformed";
    if (policy.readOnly && !request.pdu.empty() && request.pdu[0] > 4) return "read_only";
    return "function";
}

std::string describe(const Request& request) {
    return "unit " + std::to_string(request.unit) + " function " +
           std::to_string(request.pdu.empty() ? 0 : request.pdu[0]);
}

}  // namespace

void LineWorker::run() {
    line_.open() ? metrics_.setLineUp(true) : lineWentDown(errno);
    for (;;) {
        const std::optional<Job> job = bus_.nextJob(kReopenPace);
        if (bus_.stopped()) return;
        if (!line_.up()) tryToReopen();
        if (!job) continue;
        const auto start = Clock::now();
        const Reply reply = serve(*job);
        bus_.deliver(Answer{job->client, answerFrame(job->request, reply.pdu), job->request.unit,
                            reply.fromNode},
                     Clock::now() - start);
        metrics_.setWaiting(bus_.waiting());
    }
}

void LineWorker::lineWentDown(int errorNumber) {
    metrics_.setLineUp(false);
    if (reportedDown_) return;
    reportedDown_ = true;
    log_.event("device " + line_.device() + " lost: " + std::strerror(errorNumber) +
               "; answering 0x0A until it is back");
}

void LineWorker::tryToReopen() {
    const auto now = Clock::now();
    if (now - lastOpenAttempt_ < kReopenPace) return;
    lastOpenAttempt_ = now;
    if (!line_.open()) return;
    reportedDown_ = false;
    metrics_.setLineUp(true);
    log_.event("device " + line_.device() + " is back");
}

LineWorker::Reply LineWorker::serve(const Job& job) {
    const Request& request = job.request;
    if (const uint8_t code = refusal(request, policy_)) {
        metrics_.refused(refusalReason(code, request, policy_));
        log_.detail(describe(request) + ": refused with exception " + std::to_string(code));
        return {exceptionPdu(request.pdu.empty() ? 0 : request.pdu[0], code)};
    }
    if (!line_.up()) {
        metrics_.refused("device_gone");
        return {exceptionPdu(request.pdu[0], kGatewayPathUnavailable)};
    }
    return onTheLine(request, job.lineTimeout);
}

LineWorker::Reply LineWorker::onTheLine(const Request& request, std::chrono::milliseconds timeout) {
    const auto start = Clock::now();
    const Outcome outcome = transact(request, timeout);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const uint8_t function = request.pdu[0];
    switch (outcome.kind) {
        case Outcome::Kind::Answer:
            metrics_.transaction(request.unit, "ok", seconds);
            if (request.unit == 0) return {broadcastAnswer(request.pdu)};
            if (outcome.pdu[0] & 0x80) metrics_.nodeException(request.unit, outcome.pdu[1]);
            log_.detail(describe(request) + ": answered");
            return {outcome.pdu, true};
        case Outcome::Kind::NoAnswer:
        case Outcome::Kind::Garbled: {
            const bool late = outcome.kind == Outcome::Kind::NoAnswer;
            metrics_.transaction(request.unit, late ? "timeout" : "garbled", seconds);
            log_.detail(describe(request) + (late ? ": no answer" : ": garbled answer"));
            return {exceptionPdu(function, kGatewayTargetFailed)};
        }
        case Outcome::Kind::Gone:
            break;
    }
    metrics_.transaction(request.unit, "device_gone", seconds);
    lineWentDown(outcome.errorNumber);
    lastOpenAttempt_ = Clock::now();
    return {exceptionPdu(function, kGatewayPathUnavailable)};
}

// The book follows the request while it is on the line, and its debt after.
Outcome LineWorker::transact(const Request& request, std::chrono::milliseconds timeout) {
    if (request.unit == 0) return line_.broadcast(request.pdu);
    book_.onTheLine(request.unit, request.pdu);
    const Outcome outcome = line_.transact(request.unit, request.pdu, book_, timeout);
    book_.offTheLine(outcome.debt);
    return outcome;
}

}  // namespace snbusd

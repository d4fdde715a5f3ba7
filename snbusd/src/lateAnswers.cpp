#include "lateAnswers.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace snbusd {

namespace {

constexpr std::chrono::minutes kTellPace(1);

std::string requestName(uint8_t slave, const snline::Debt& debt) {
    return "slave " + std::to_string(slave) + " function " + std::to_string(debt.function());
}

}  // namespace

snline::OwedAnswers* LateAnswerBook::owedBy(uint8_t slave) {
    return slave > 0 && slave < kSlaves ? &owed_[slave] : nullptr;
}

void LateAnswerBook::lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) {
    metrics_.lateAnswer(slave);
    const auto now = std::chrono::steady_clock::now();
    auto& told = lastTold_[slave];
    if (told != std::chrono::steady_clock::time_point{} && now - told < kTellPace) return;
    told = now;
    log_.event("slave " + std::to_string(slave) + " answers late: its answers come " +
               std::to_string(afterTimeout.count()) + " ms after the timeout; raise --timeout");
}

void LateAnswerBook::paid(uint8_t slave, const snline::Debt& debt, const uint8_t*, std::size_t) {
    if (!endClientDebt(slave, debt)) return;
    metrics_.orphanedAnswer(slave);
    log_.detail(requestName(slave, debt) + ": its answer came after its client was told 0x0B");
}

void LateAnswerBook::unpaid(uint8_t slave, const snline::Debt& debt, snline::DebtEnd why) {
    if (!endClientDebt(slave, debt)) return;
    // Overtaken and never answered: the node did not take it, as if it
    // had never been sent.  Otherwise what it did is not known.
    if (!debt.clouded && why == snline::DebtEnd::Overtaken) return;
    metrics_.unsettledRequest(slave);
    log_.detail(
        requestName(slave, debt) + ": its outcome is unknown (" +
        (debt.clouded ? "its answer was garbled, or not to be told)" : "the node stayed silent)"));
}

void LateAnswerBook::onTheLine(uint8_t slave, const std::vector<uint8_t>& pdu) {
    current_.reset();
    if (owedBy(slave) == nullptr) return;
    ClientRequest request;
    request.slave = slave;
    std::memcpy(request.head.data(), pdu.data(), std::min(pdu.size(), request.head.size()));
    request.size = pdu.size();
    request.sent = snline::StepClock::now();
    current_ = request;
}

void LateAnswerBook::offTheLine(std::optional<uint64_t> debt) {
    if (current_ && debt && !current_->ended) {
        std::vector<ClientRequest>& debts = clientDebts_[current_->slave];
        if (debts.size() == kClientDebtsKept) debts.erase(debts.begin());
        current_->order = *debt;
        debts.push_back(*current_);
    }
    current_.reset();
}

bool LateAnswerBook::ClientRequest::shapedAs(const snline::Debt& debt) const {
    return debt.requestSize == size && debt.head == head;
}

bool LateAnswerBook::endClientDebt(uint8_t slave, const snline::Debt& debt) {
    if (owedBy(slave) == nullptr) return false;
    std::vector<ClientRequest>& debts = clientDebts_[slave];
    const auto found = std::find_if(debts.begin(), debts.end(), [&](const ClientRequest& r) {
        return r.order == debt.order && r.shapedAs(debt);
    });
    if (found != debts.end()) {
        debts.erase(found);
        return true;
    }
    // The request on the line is owed only once the line gives it up, and
    // its debt may end before the exchange returns (the probe that settles
    // it was answered): its order is not known yet.  It is the one debt of
    // its shape given up on since it went that can end so soon: a probe
    // given up on meanwhile ends the exchange.
    if (current_ && current_->slave == slave && !current_->ended &&
        debt.failedAt >= current_->sent && current_->shapedAs(debt)) {
        current_->ended = true;
        return true;
    }
    return false;
}

}  // namespace snbusd

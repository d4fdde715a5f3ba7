// The debts of every slave on the line, and what the daemon does when a
// late answer comes: counts it, and tells the operator at most once a
// minute per slave how late the answers are.  It also follows the debts of
// its clients' requests (not the probes the line sends on its own): the
// late answer of one whose client was already told 0x0B is an answer
// nobody takes, and one that ends unpaid after a garbled answer, or after
// the node stayed silent, leaves a request whose outcome nobody knows.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "eventLog.h"
#include "metrics.h"
#include "snline/owedAnswers.h"

namespace snbusd {

class LateAnswerBook : public snline::LineBook {
public:
    LateAnswerBook(Metrics& metrics, EventLog& log) : metrics_(metrics), log_(log) {}
    snline::OwedAnswers* owedBy(uint8_t slave) override;
    void lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) override;
    void paid(uint8_t slave, const snline::Debt& debt, const uint8_t* pdu,
              std::size_t length) override;
    void unpaid(uint8_t slave, const snline::Debt& debt, snline::DebtEnd why) override;

    // A client's request to `slave` goes on the line: a debt of its shape
    // that ends before the line is done with it was that request's.
    void onTheLine(uint8_t slave, const std::vector<uint8_t>& pdu);
    // The line is done with it; `debt` names it when it was given up on
    // (its client is told 0x0B) and its answer may still come.
    void offTheLine(std::optional<uint64_t> debt);

private:
    static constexpr std::size_t kSlaves = 248;  // 0 (broadcast, never owed) to 247
    // As many as a slave's book keeps debts: older ones are gone from it.
    static constexpr std::size_t kClientDebtsKept = 24;

    struct ClientRequest {
        uint8_t slave = 0;
        std::array<uint8_t, snline::Debt::kHeadSize> head{};
        std::size_t size = 0;
        uint64_t order = 0;
        snline::StepClock::time_point sent{};  // when it went on the line
        bool ended = false;                    // its debt ended while it was on the line
        bool shapedAs(const snline::Debt& debt) const;
    };

    // Takes `debt` out of the clients' debts; false when it is no
    // client's (a probe's).
    bool endClientDebt(uint8_t slave, const snline::Debt& debt);

    std::array<snline::OwedAnswers, kSlaves> owed_{};
    std::array<std::chrono::steady_clock::time_point, kSlaves> lastTold_{};
    std::array<std::vector<ClientRequest>, kSlaves> clientDebts_{};
    std::optional<ClientRequest> current_;  // the client's request on the line
    Metrics& metrics_;
    EventLog& log_;
};

}  // namespace snbusd

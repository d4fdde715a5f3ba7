// The debts of every slave on the line, and what the daemon does when a
// late answer comes: counts it, and tells the operator at most once a
// minute per slave how late the answers are.
#pragma once

#include <array>
#include <chrono>

#include "eventLog.h"
#include "metrics.h"
#include "snline/owedAnswers.h"

namespace snbusd {

class LateAnswerBook : public snline::LineBook {
public:
    LateAnswerBook(Metrics& metrics, EventLog& log) : metrics_(metrics), log_(log) {}
    snline::OwedAnswers* owedBy(uint8_t slave) override;
    void lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) override;

private:
    static constexpr std::size_t kSlaves = 248;  // 0 (broadcast, never owed) to 247
    std::array<snline::OwedAnswers, kSlaves> owed_{};
    std::array<std::chrono::steady_clock::time_point, kSlaves> lastTold_{};
    Metrics& metrics_;
    EventLog& log_;
};

}  // namespace snbusd

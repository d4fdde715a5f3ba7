#include "lateAnswers.h"

#include <string>

namespace snbusd {

namespace {

constexpr std::chrono::minutes kTellPace(1);

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

}  // namespace snbusd

#include "faultDice.h"

namespace snsim::detail {

void FaultDice::configure(const RandomFaults& faults) {
    faults_ = faults;
    active_ = faults.noAnswer + faults.late + faults.torn + faults.exception > 0;
    rng_.seed(faults.seed);
    injected_ = InjectedFaults{};
}

Fault FaultDice::draw(std::chrono::milliseconds& delay, bool portTransfer) {
    if (!active_ || (faults_.portsOnly && !portTransfer)) return Fault::None;
    ++injected_.requests;
    double roll = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    if ((roll -= faults_.noAnswer) < 0) {
        ++injected_.noAnswer;
        return Fault::NoAnswer;
    }
    if ((roll -= faults_.late) < 0) {
        ++injected_.late;
        const bool other =
            faults_.alsoLateBy.count() > 0 && std::uniform_int_distribution<int>(0, 1)(rng_) == 1;
        delay = other ? faults_.alsoLateBy : faults_.lateBy;
        return Fault::Delay;
    }
    if ((roll -= faults_.torn) < 0) {
        ++injected_.torn;
        return Fault::TornAnswer;
    }
    if ((roll -= faults_.exception) < 0) {
        ++injected_.exception;
        return Fault::Exception;
    }
    return Fault::None;
}

}  // namespace snsim::detail

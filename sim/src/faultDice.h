// Faults drawn at random, request by request, for soak runs.
#pragma once

#include <chrono>
#include <random>

#include "snsim/emulator.h"

namespace snsim::detail {

class FaultDice {
public:
    void configure(const RandomFaults& faults);
    // The fault for one request (Fault::None mostly); for a late answer
    // `delay` is set to how late.
    Fault draw(std::chrono::milliseconds& delay);
    InjectedFaults injected() const { return injected_; }

private:
    RandomFaults faults_;
    bool active_ = false;
    std::mt19937 rng_;
    InjectedFaults injected_;
};

}  // namespace snsim::detail

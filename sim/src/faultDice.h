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
    // `delay` is set to how late.  `portTransfer`: the request moves a
    // virtual port's data.
    Fault draw(std::chrono::milliseconds& delay, bool portTransfer);
    InjectedFaults injected() const { return injected_; }

private:
    RandomFaults faults_;
    bool active_ = false;
    std::mt19937 rng_;
    InjectedFaults injected_;
};

}  // namespace snsim::detail

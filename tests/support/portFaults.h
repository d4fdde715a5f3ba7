// Faults of a node's port transactions for the numbered-stream tests: a
// busy node's late answers, as a share of the port's data transactions
// only, so that probes and other registers answer on time.
#pragma once

#include <chrono>

#include "snsim/emulator.h"

namespace sntest {

// 3 % answered 900 ms late, beyond the library's 600 ms timeout.  With this
// seed the 6th, 30th and 39th of the port's transactions are late, and two
// more of the first hundred, so every stream meets some.
inline snsim::RandomFaults latePortAnswers() {
    snsim::RandomFaults faults;
    faults.late = 0.03;
    faults.lateBy = std::chrono::milliseconds(900);
    faults.seed = 3;
    faults.portsOnly = true;
    return faults;
}

}  // namespace sntest

// The library against bare libmodbus: the same function-23 and function-03
// transactions on the same emulated node without line timing, in
// alternating rounds so that both sides see the same machine load.
#pragma once

#include "bareLink.h"
#include "nodeRig.h"

#include <cstddef>

namespace snbench {

struct Comparison {
    std::size_t transactions = 0;  // per round and side
    int rounds = 0;
    double libUs = 0, bareUs = 0;        // median wall time per transaction
    double libCpuUs = 0, bareCpuUs = 0;  // median caller CPU time per transaction
    bool intact = true;                  // every round moved every byte
};

Comparison compareWrites(NodeRig& rig, BareLink& bare, std::size_t blocks, int rounds);
Comparison compareReads(NodeRig& rig, BareLink& bare, std::size_t blocks, int rounds);

}  // namespace snbench

// Timed transfers through the library's virtual port: one snSerWrite of a
// whole buffer, or a buffer's worth of snSerRead calls of one block each.
#pragma once

#include "nodeRig.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace snbench {

struct TransferResult {
    std::size_t bytes = 0;         // payload moved
    double seconds = 0;            // wall time of the library calls
    double cpuSeconds = 0;         // CPU time of the calling thread in them
    std::size_t transactions = 0;  // requests the node saw during the run
    bool intact = false;           // what arrived is what was sent
    double medianCycle = 0;        // median time from one request to the next, seconds
    double bytesPerSecond() const { return seconds > 0 ? static_cast<double>(bytes) / seconds : 0; }
};

// Median gap between consecutive requests in the node's log: the typical
// length of one transaction, immune to the odd scheduling hiccup.
double medianRequestGap(const snsim::Emulator& sim);

// Payload with every byte value, so lost or shifted bytes show.
std::vector<uint8_t> testPattern(std::size_t bytes, unsigned seed);

// snSerWrite of `bytes` in one call.  When `verify`, waits for the node to
// put everything on its port line and compares it with what was written.
TransferResult timedWrite(NodeRig& rig, std::size_t bytes, bool verify);

// Gives the node `bytes` to deliver, then reads them with snSerRead calls
// of one block (240 bytes) each.
TransferResult timedRead(NodeRig& rig, std::size_t bytes);

}  // namespace snbench

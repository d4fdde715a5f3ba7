// What the daemon lets onto the line, and what it takes for an answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mbapFrame.h"

namespace snbusd {

struct Policy {
    bool readOnly = false;
    std::vector<bool> units;  // allowed slave addresses (index 1 to 247); empty: all
};

// 0 when `request` may go on the line, otherwise the exception code the
// daemon answers with, touching nothing: 0x01 for a function it does not
// carry (or any write under --read-only, or a read broadcast), 0x03 for a
// PDU whose length does not fit its function, 0x0B for a unit not served.
uint8_t refusal(const Request& request, const Policy& policy);

// For a broadcast write, which no node answers: what the client is told,
// the answer a node would have given.
std::vector<uint8_t> broadcastAnswer(const std::vector<uint8_t>& request);

}  // namespace snbusd

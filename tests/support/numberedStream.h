// A numbered text stream ("000123\n" lines) sent through a virtual port,
// and what arrived checked against it: a line lost, repeated, out of order
// or garbled shows by its number, and the bytes lost and added are counted
// exactly.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serialClient.h"

namespace sntest {

// Lines 0 to lines-1 (fewer than a million), seven bytes each.
std::vector<uint8_t> numberedLines(std::size_t lines);

struct StreamCheck {
    std::size_t lines = 0;       // whole number lines received
    std::size_t lost = 0;        // lines sent and never received whole
    std::size_t repeated = 0;    // lines received more than once
    std::size_t outOfOrder = 0;  // first received after a later line
    std::size_t garbled = 0;     // received pieces that are not a number line
    // The fewest bytes taken out of the sent stream and put into it that
    // turn it into the received one.
    std::size_t lostBytes = 0, addedBytes = 0;

    bool whole() const { return lostBytes == 0 && addedBytes == 0; }
    std::string describe() const;
};

StreamCheck checkNumbered(const std::vector<uint8_t>& received, std::size_t lines);

// True once `received` ends with the last of `lines` lines.
bool endsNumbered(const std::vector<uint8_t>& received, std::size_t lines);

// One end of a stream both ways at once: sends `lines` lines through
// `serial` while it receives the other end's, until their last line came or
// nothing came for `stall`.
struct Exchanged {
    std::vector<uint8_t> received;
    bool sentAll = false;  // false: writing stalled for `stall`
};
Exchanged exchangeNumbered(SerialClient& serial, std::size_t lines,
                           std::chrono::milliseconds stall);

}  // namespace sntest

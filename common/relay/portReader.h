// Reading what a virtual port has received, telling "nothing there" from
// a failed transaction (snSerRead returns 0 for both).
#pragma once

#include "snLib.h"
#include "sncommon/deviceFailure.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace snrelay {

using sncommon::DeviceError;

inline constexpr uint32_t kFullBlock = SN_BLOCK_BYTES;

// One snSerRead of up to `capacity` bytes into `buffer`.  Throws
// DeviceError when the node did not answer.
std::size_t readOnce(SnSerial* port, uint8_t* buffer, uint32_t capacity);

// Everything the port has now; with `ms` > 0, everything that arrives
// within that many milliseconds.
// The bytes go into `received` as they come, so that a caller that gets a
// DeviceError still has every byte taken from the node before it.
void receiveFor(SnSerial* port, long ms, std::vector<uint8_t>& received);

}  // namespace snrelay

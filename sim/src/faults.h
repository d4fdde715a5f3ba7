// Fault injection on the reply side of the line.
#pragma once

#include "snsim/emulator.h"

#include <cstdint>
#include <vector>

namespace snsim::detail {

// The reply as it goes on the line under `fault`: WrongSlave carries
// another address (CRC still valid), BadCrc has its CRC corrupted,
// ShortFrame loses its last three bytes, OtherSlaveFirst has WrongSlave's
// frame in front of it.  Other faults leave it intact.
std::vector<uint8_t> faultyReply(Fault fault, std::vector<uint8_t> reply);

// An exception reply built by hand, for codes libmodbus refuses to send.
std::vector<uint8_t> exceptionFrame(int slave, int function, int code);

}  // namespace snsim::detail

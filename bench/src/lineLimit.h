// What the Modbus line itself allows: characters on the wire per virtual-port
// transaction, and the payload rate that leaves at a given line speed.
// RTU, 8N1: 10 bits a character, 3.5 characters of silence after each frame.
#pragma once

#include <cstddef>

#include "snLimits.h"

namespace snbench {

inline constexpr int kBlockBytes = SN_BLOCK_BYTES;  // payload of one full block

// Function 23 writing a block of `bytes` and reading the one status register:
// request, reply and their two silences, in character times.
double writeTransactionChars(int bytes);

// Function 03 reading a receive block that carries `bytes`.
double readTransactionChars(int bytes);

// Line seconds needed to move `total` payload bytes in full blocks plus one
// remainder block.
double writeLineSeconds(std::size_t total, int baud);
double readLineSeconds(std::size_t total, int baud);

// Seconds one character takes at `baud`.
double charSeconds(int baud);

}  // namespace snbench

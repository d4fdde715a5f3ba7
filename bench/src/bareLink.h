// The baseline: plain libmodbus calls making the same transactions the
// library makes for a virtual port, with no library in between.
#pragma once

#include <modbus.h>

#include "snLimits.h"

#include <cstdint>
#include <string>
#include <vector>

namespace snbench {

class BareLink {
public:
    BareLink() = default;
    ~BareLink();
    BareLink(const BareLink&) = delete;
    BareLink& operator=(const BareLink&) = delete;

    // RTU context on `device`, set up as the library sets up its own.
    bool open(const std::string& device, int slave);

    // Function 23: writes the transmit block `regs` (count register first)
    // of port 0 and reads its status; the bytes accepted, or -1.
    int writeBlock(const std::vector<uint16_t>& regs);
    // Function 03: reads a full receive block of port 0; its count, or -1.
    int readBlock();

private:
    modbus_t* ctx_ = nullptr;
    uint16_t rx_[1 + SN_BLOCK_BYTES / 2] = {};
};

// Transmit blocks of `data` as the node's register layout wants them.
std::vector<std::vector<uint16_t>> packBlocks(const std::vector<uint8_t>& data);

}  // namespace snbench

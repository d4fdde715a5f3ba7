// Arguments of "bridge P [-b BAUD] [--parity N|E|O] [--stop 1|2] --link PATH".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace snctl {

struct BridgeOptions {
    uint16_t port = 0;
    long baud = 9600;
    char parity = 'N';
    int stopBits = 1;
    std::string link;
};

// Throws UsageError naming what was expected.
BridgeOptions parseBridgeOptions(const std::vector<std::string>& args);

}  // namespace snctl

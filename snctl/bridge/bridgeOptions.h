// Arguments of "bridge P [-b BAUD] [--parity N|E|O] [--stop 1|2]
// (--link PATH | --listen [HOST:]PORT [--raw] [--allow ADDR[/BITS]]... [--keep])".
#pragma once

#include "relayNames.h"
#include "snline/hostPort.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace snctl {

// An address block clients may come from ("10.0.0.0/8", "::1").
struct AllowedNetwork {
    int family = 0;  // AF_INET or AF_INET6
    uint8_t address[16] = {};
    int bits = 0;
};

struct BridgeOptions {
    uint16_t port = 0;
    PortLine line;
    std::string link;
    // --listen: served over TCP instead of a pseudo-terminal.
    std::optional<snline::HostPort> listen;
    bool raw = false;   // plain bytes instead of Telnet with COM-PORT-OPTION
    bool keep = false;  // hold what the node sends while no client is there
    std::vector<AllowedNetwork> allowed;
};

// Throws UsageError naming what was expected.
BridgeOptions parseBridgeOptions(const std::vector<std::string>& args);

// "ADDR" or "ADDR/BITS", IPv4 or IPv6; throws UsageError.
AllowedNetwork parseAllowedNetwork(const std::string& text);

}  // namespace snctl

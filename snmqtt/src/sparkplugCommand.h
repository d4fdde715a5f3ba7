// What a Sparkplug host asks of the edge node (NCMD) or of one device
// (DCMD), read from the payload's bytes and checked against the metrics we
// announced.  A command is taken whole or refused whole: one metric that
// cannot be written and nothing of it is done.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace snmqtt {

// More than a host has reason to send at once is refused, unread.
inline constexpr std::size_t kMostCommandMetrics = 32;
inline constexpr std::size_t kLongestCommand = 64 * 1024;

struct DeviceWrite {
    int output = 0;
    bool on = false;
};

struct DeviceCommand {
    std::vector<DeviceWrite> writes;  // in the payload's order
    std::string refusal;              // why nothing is done; empty when taken
};

// `device`: the device's index among the edge node's, which its aliases
// depend on.
DeviceCommand parseDeviceCommand(std::string_view payload, std::size_t device);

struct NodeCommand {
    bool rebirth = false;
    std::string refusal;
};

NodeCommand parseNodeCommand(std::string_view payload);

}  // namespace snmqtt

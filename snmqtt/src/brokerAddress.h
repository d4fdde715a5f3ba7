// Where the broker is, as the user writes it: mqtt://HOST[:PORT] or
// mqtts://HOST[:PORT], an IPv6 address in brackets.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace snmqtt {

struct BrokerAddress {
    bool tls = false;
    std::string host;  // an IPv6 address without its brackets
    int port = 1883;
};

// Nothing, with a sentence in `why`, for anything but those two forms:
// no scheme, another scheme, an empty host, a bad port, a path after it.
std::optional<BrokerAddress> parseBrokerAddress(std::string_view text, std::string& why);

// The address written back as a URL, for log lines.
std::string brokerUrl(const BrokerAddress& address);

}  // namespace snmqtt

#include "brokerAddress.h"

#include <arpa/inet.h>

#include <cctype>

namespace snmqtt {

namespace {

constexpr std::string_view kPlainScheme = "mqtt://";
constexpr std::string_view kSecureScheme = "mqtts://";

// Schemes are case-insensitive; MQTT:// is as good as mqtt://.
bool startsWithScheme(std::string_view text, std::string_view scheme) {
    if (text.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return false;
    return true;
}

// Decimal digits only: "0x50" or "+80" is a typo, not a port.
std::optional<int> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return {};
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return {};
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return {};
    return port;
}

bool isHostName(std::string_view host) {
    for (const char c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
            return false;
    return true;
}

// A zone (fe80::1%eth0) is the kernel's business: only the address is checked.
bool isIpv6(std::string_view host) {
    const std::string address(host.substr(0, host.find('%')));
    in6_addr parsed{};
    return inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

struct Authority {
    std::string_view host;
    std::optional<std::string_view> port;
};

// HOST[:PORT] or [IPV6][:PORT]; nothing, with `why`, when neither.
std::optional<Authority> splitAuthority(std::string_view text, const std::string& quoted,
                                        std::string& why) {
    Authority authority;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            why = "broker address " + quoted + " opens a bracket it never closes";
            return {};
        }
        authority.host = text.substr(1, close - 1);
        const std::string_view after = text.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            why = "broker address " + quoted + " has something other than :PORT after ']'";
            return {};
        }
        if (!after.empty()) authority.port = after.substr(1);
        if (!authority.host.empty() && !isIpv6(authority.host)) {
            why = "broker address " + quoted + " has no IPv6 address in its brackets";
            return {};
        }
        return authority;
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
        why = "broker address " + quoted + ": an IPv6 address goes in brackets, as in " +
              "mqtt://[::1]:1883";
        return {};
    }
    authority.host = text.substr(0, colon);
    if (colon != std::string_view::npos) authority.port = text.substr(colon + 1);
    if (!isHostName(authority.host)) {
        why = "broker address " + quoted + " has characters no host name has";
        return {};
    }
    return authority;
}

}  // namespace

std::optional<BrokerAddress> parseBrokerAddress(std::string_view text, std::string& why) {
    const std::string quoted = "'" + std::string(text) + "'";
    BrokerAddress address;
    std::string_view rest;
    if (startsWithScheme(text, kSecureScheme)) {
        address.tls = true;
        address.port = 8883;
        rest = text.substr(kSecureScheme.size());
    } else if (startsWithScheme(text, kPlainScheme)) {
        rest = text.substr(kPlainScheme.size());
    } else {
        why = quoted + " is no broker address: write mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
        return {};
    }
    // A lone trailing slash names no path; anything more would be ignored
    // by the broker, so it is refused rather than dropped in silence.
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.find_first_of("/?#") != std::string_view::npos) {
        why = "broker address " + quoted + " has a path after the host: MQTT has none";
        return {};
    }
    if (rest.find('@') != std::string_view::npos) {
        why = "broker address " + quoted + " holds a user name: give it and the password apart";
        return {};
    }
    const std::optional<Authority> authority = splitAuthority(rest, quoted, why);
    if (!authority) return {};
    if (authority->host.empty()) {
        why = "broker address " + quoted + " names no host";
        return {};
    }
    address.host = authority->host;
    if (authority->port) {
        const std::optional<int> port = parsePort(*authority->port);
        if (!port) {
            why = "the port in broker address " + quoted +
                  " must be a number from 1 to 65535, not '" + std::string(*authority->port) + "'";
            return {};
        }
        address.port = *port;
    }
    return address;
}

std::string brokerUrl(const BrokerAddress& address) {
    const bool bracketed = address.host.find(':') != std::string::npos;
    return std::string(address.tls ? kSecureScheme : kPlainScheme) + (bracketed ? "[" : "") +
           address.host + (bracketed ? "]" : "") + ":" + std::to_string(address.port);
}

}  // namespace snmqtt

#include "snline/hostPort.h"

#include <cstring>

namespace snline {

namespace {

// `lowest` to 65535, digits only.
bool validPort(const char* text, long lowest) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 5) return false;
    long value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return value >= lowest && value <= 65535;
}

bool copyHost(const char* from, std::size_t length, HostPort& out) {
    if (length == 0 || length >= sizeof out.host) return false;
    std::memcpy(out.host, from, length);
    out.host[length] = '\0';
    return true;
}

bool parse(const char* text, HostPort& out, long lowestPort) {
    out = HostPort{};
    if (text == nullptr) return false;
    const char* colon = nullptr;
    if (text[0] == '[') {
        const char* close = std::strchr(text, ']');
        if (close == nullptr || close[1] != ':') return false;
        if (!copyHost(text + 1, static_cast<std::size_t>(close - text - 1), out)) return false;
        colon = close + 1;
    } else {
        colon = std::strrchr(text, ':');
        if (colon == nullptr || std::memchr(text, ':', static_cast<std::size_t>(colon - text))) {
            return false;  // no port, or an IPv6 address without brackets
        }
        if (!copyHost(text, static_cast<std::size_t>(colon - text), out)) return false;
    }
    if (!validPort(colon + 1, lowestPort)) return false;
    std::strcpy(out.port, colon + 1);
    return true;
}

}  // namespace

bool parseHostPort(const char* text, HostPort& out) { return parse(text, out, 1); }

bool parseListenAddress(const char* text, HostPort& out) { return parse(text, out, 0); }

bool isTcpLinkName(const char* name) {
    return name != nullptr && std::strncmp(name, kTcpLinkPrefix, sizeof kTcpLinkPrefix - 1) == 0;
}

bool parseTcpLinkName(const char* name, HostPort& out) {
    out = HostPort{};
    return isTcpLinkName(name) && parseHostPort(name + sizeof kTcpLinkPrefix - 1, out);
}

}  // namespace snline

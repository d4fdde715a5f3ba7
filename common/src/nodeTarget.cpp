#include "sncommon/nodeTarget.h"

#include "snLimits.h"
#include "sncommon/comName.h"
#include "sncommon/integerParsing.h"
#include "snline/hostPort.h"

#include <algorithm>
#include <cctype>

namespace sncommon {

using snline::HostPort;
using snline::isTcpLinkName;
using snline::parseTcpLinkName;

namespace {

// The name travels in URLs, label values and pages: plain characters only,
// so it needs no escaping anywhere.
void checkName(const std::string& name, std::string_view text) {
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
    });
    if (name.empty() || name.size() > kLongestTargetName || !plain) {
        throw TargetError("target '" + std::string(text) +
                          "' needs a NAME of 1 to 64 letters, digits, '.', '_' or '-' before '='");
    }
}

std::string checkedDevice(const std::string& device, std::string_view text) {
    if (device.empty()) throw TargetError("target '" + std::string(text) + "' names no device");
    if (isTcpLinkName(device.c_str())) {
        HostPort address;
        if (!parseTcpLinkName(device.c_str(), address))
            throw TargetError("target '" + std::string(text) + "': " + device +
                              " is not tcp:HOST:PORT");
        return device;
    }
    char translated[kComNameSize];
    switch (translateComName(device.c_str(), translated)) {
        case ComTranslation::Translated:
            return translated;
        case ComTranslation::Invalid:
            throw TargetError("device " + device + " names no serial port (COM1 to COM1000000)");
        case ComTranslation::NotCom:
            break;
    }
    return device;
}

int checkedSpeed(const std::string& value, const std::string& what) {
    static constexpr int kSpeeds[] = {SN_LINE_SPEEDS};
    const std::optional<long> speed = parseInteger(value, 1, 4000000);
    if (speed) {
        for (const int supported : kSpeeds)
            if (*speed == supported) return supported;
    }
    std::string list;
    for (const int supported : kSpeeds)
        list += (list.empty() ? "" : " ") + std::to_string(supported);
    throw TargetError(what + ": '" + value +
                      "' is not a speed the serial driver can set; use one of " + list);
}

void applySetting(NodeTarget& target, const std::string& setting, std::string_view text) {
    const auto equals = setting.find('=');
    const std::string key = setting.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : setting.substr(equals + 1);
    if (key == "slave" && equals != std::string::npos) {
        const std::optional<long> slave = parseInteger(value, SN_MIN_SLAVE, SN_MAX_SLAVE);
        if (!slave)
            throw TargetError(
                integerRangeError("slave of " + target.name, SN_MIN_SLAVE, SN_MAX_SLAVE, value));
        target.slave = static_cast<int>(*slave);
    } else if (key == "baud" && equals != std::string::npos) {
        target.baud = checkedSpeed(value, "baud of " + target.name);
    } else {
        throw TargetError("target '" + std::string(text) + "': expected slave=N or baud=B, not '" +
                          setting + "'");
    }
}

}  // namespace

NodeTarget parseNodeTarget(std::string_view text) {
    const auto equals = text.find('=');
    NodeTarget target;
    target.name = std::string(text.substr(0, equals));
    checkName(target.name, text);
    const std::string rest =
        equals == std::string_view::npos ? "" : std::string(text.substr(equals + 1));
    std::size_t comma = rest.find(',');
    target.device = checkedDevice(rest.substr(0, comma), text);
    while (comma != std::string::npos) {
        const std::size_t next = rest.find(',', comma + 1);
        applySetting(target, rest.substr(comma + 1, next - comma - 1), text);
        comma = next;
    }
    return target;
}

void checkDistinctTarget(const std::vector<NodeTarget>& targets, const NodeTarget& added,
                         std::size_t most) {
    for (const NodeTarget& other : targets) {
        if (other.name == added.name) throw TargetError("target " + added.name + " given twice");
        // One node, one handle in the library: two names for it would share
        // its link timeouts and its open count.
        if (other.device == added.device && other.slave == added.slave)
            throw TargetError("targets " + other.name + " and " + added.name +
                              " name the same node");
    }
    if (targets.size() >= most)
        throw TargetError("at most " + std::to_string(most) +
                          " targets (the nodes the library holds open at once)");
}

void addNodeTarget(std::vector<NodeTarget>& targets, std::string_view text, std::size_t most) {
    const NodeTarget target = parseNodeTarget(text);
    checkDistinctTarget(targets, target, most);
    targets.push_back(target);
}

}  // namespace sncommon

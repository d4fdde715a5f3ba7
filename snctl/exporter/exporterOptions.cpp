#include "exporterOptions.h"

#include "comName.h"
#include "deviceHints.h"
#include "failure.h"
#include "globalOptions.h"
#include "namedOptions.h"
#include "numberParsing.h"
#include "snLimits.h"
#include "sncommon/hostPort.h"

#include <algorithm>
#include <cctype>

namespace snctl {

namespace {

const char* const kUsage =
    "exporter [--listen HOST:PORT] --target NAME=DEVICE[,slave=N][,baud=B]...";
constexpr std::size_t kLongestName = 64;

// The name travels in URLs and label values: plain characters only, so it
// needs no escaping anywhere.
void checkName(const std::string& name, const std::string& text) {
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
    });
    if (name.empty() || name.size() > kLongestName || !plain) {
        throw UsageError("exporter: target '" + text +
                         "' needs a NAME of 1 to 64 letters, digits, '.', '_' or '-' before '='");
    }
}

std::string checkedDevice(const std::string& device, const std::string& text) {
    if (device.empty()) throw UsageError("exporter: target '" + text + "' names no device");
    if (isTcpName(device)) {
        checkTcpName(device, "exporter: target '" + text + "': ");
        return device;
    }
    return translateDeviceName(device);
}

void applySetting(ProbeTarget& target, const std::string& setting, const std::string& text) {
    const auto equals = setting.find('=');
    const std::string key = setting.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : setting.substr(equals + 1);
    if (key == "slave" && equals != std::string::npos) {
        target.slave = static_cast<int>(
            requireInteger(value, SN_MIN_SLAVE, SN_MAX_SLAVE, "exporter: slave of " + target.name));
    } else if (key == "baud" && equals != std::string::npos) {
        target.baud = parseModbusSpeed(value, "exporter: baud of " + target.name);
    } else {
        throw UsageError("exporter: target '" + text + "': expected slave=N or baud=B, not '" +
                         setting + "'");
    }
}

void checkDistinct(const std::vector<ProbeTarget>& targets, const ProbeTarget& added) {
    for (const ProbeTarget& other : targets) {
        if (other.name == added.name)
            throw UsageError("exporter: target " + added.name + " given twice");
        // One node, one handle in the library: two names for it would share
        // its link timeouts and its open count.
        if (other.device == added.device && other.slave == added.slave) {
            throw UsageError("exporter: targets " + other.name + " and " + added.name +
                             " name the same node");
        }
    }
    if (targets.size() >= SN_MAX_NODES) {
        throw UsageError("exporter: at most " + std::to_string(SN_MAX_NODES) +
                         " targets (the nodes the library holds open at once)");
    }
}

void applyOption(ExporterOptions& options, const std::string& name, const std::string& value) {
    if (name == "--listen") {
        sncommon::HostPort where;
        if (!sncommon::parseListenAddress(value.c_str(), where))
            throw UsageError("exporter: --listen needs HOST:PORT (port 0 to 65535), not '" + value +
                             "'");
        options.listen = value;
    } else if (name == "--target") {
        const ProbeTarget target = parseProbeTarget(value);
        checkDistinct(options.targets, target);
        options.targets.push_back(target);
    } else {
        throw UsageError("exporter: unknown option '" + name + "' (expected " + kUsage + ")");
    }
}

}  // namespace

ProbeTarget parseProbeTarget(const std::string& text) {
    const auto equals = text.find('=');
    ProbeTarget target;
    target.name = text.substr(0, equals);
    checkName(target.name, text);
    const std::string rest = equals == std::string::npos ? "" : text.substr(equals + 1);
    std::size_t comma = rest.find(',');
    target.device = checkedDevice(rest.substr(0, comma), text);
    while (comma != std::string::npos) {
        const std::size_t next = rest.find(',', comma + 1);
        applySetting(target, rest.substr(comma + 1, next - comma - 1), text);
        comma = next;
    }
    return target;
}

ExporterOptions parseExporterOptions(const std::vector<std::string>& args) {
    ExporterOptions options;
    options.listen = kDefaultExporterListen;
    for (const NamedOption& option : namedOptions(args, "exporter", kUsage))
        applyOption(options, option.name, option.value);
    if (options.targets.empty())
        throw UsageError(std::string("exporter: at least one --target is needed (") + kUsage + ")");
    return options;
}

}  // namespace snctl

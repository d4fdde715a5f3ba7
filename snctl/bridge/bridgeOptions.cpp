#include "bridgeOptions.h"

#include "failure.h"
#include "numberParsing.h"
#include "snLimits.h"

#include <arpa/inet.h>

namespace snctl {

namespace {

const char* const kUsage =
    "bridge P [-b BAUD] [--parity N|E|O] [--stop 1|2] (--link PATH | --listen [HOST:]PORT "
    "[--raw] [--allow ADDR[/BITS]]... [--keep])";

char parityOf(const std::string& text) {
    if (text.size() == 1) {
        switch (text[0]) {
            case 'N':
            case 'n':
                return 'N';
            case 'E':
            case 'e':
                return 'E';
            case 'O':
            case 'o':
                return 'O';
            default:
                break;
        }
    }
    throw UsageError("bridge: parity must be N, E or O, not '" + text + "'");
}

// "PORT" alone listens on loopback.
snline::HostPort listenAddress(const std::string& text) {
    const bool portOnly = !text.empty() && text.find(':') == std::string::npos;
    snline::HostPort where;
    if (!snline::parseListenAddress((portOnly ? "127.0.0.1:" + text : text).c_str(), where))
        throw UsageError("bridge: --listen needs [HOST:]PORT, not '" + text + "'");
    return where;
}

void applyOption(BridgeOptions& options, const std::string& name, const std::string& value) {
    if (name == "-b" || name == "--baud") {
        options.line.baud =
            requireInteger(value, SN_MIN_PORT_SPEED, SN_MAX_PORT_SPEED, "bridge: port speed");
    } else if (name == "--parity") {
        options.line.parity = parityOf(value);
    } else if (name == "--stop") {
        options.line.stopBits = static_cast<int>(requireInteger(value, 1, 2, "bridge: stop bits"));
    } else if (name == "--link") {
        if (value.empty()) throw UsageError("bridge: --link needs a path");
        options.link = value;
    } else if (name == "--listen") {
        options.listen = listenAddress(value);
    } else if (name == "--allow") {
        options.allowed.push_back(parseAllowedNetwork(value));
    } else {
        throw UsageError("bridge: unknown option '" + name + "' (expected " + kUsage + ")");
    }
}

bool isFlag(const std::string& name) { return name == "--raw" || name == "--keep"; }

void checkCombination(const BridgeOptions& options) {
    if (!options.link.empty() && options.listen)
        throw UsageError("bridge: --link and --listen exclude each other");
    if (options.link.empty() && !options.listen)
        throw UsageError(std::string("bridge: --link PATH is required, or --listen (") + kUsage +
                         ")");
    if (!options.listen && (options.raw || options.keep || !options.allowed.empty()))
        throw UsageError("bridge: --raw, --keep and --allow go with --listen");
}

}  // namespace

AllowedNetwork parseAllowedNetwork(const std::string& text) {
    const auto slash = text.find('/');
    const std::string address = text.substr(0, slash);
    AllowedNetwork network;
    int maxBits = 32;
    if (inet_pton(AF_INET, address.c_str(), network.address) == 1) {
        network.family = AF_INET;
    } else if (inet_pton(AF_INET6, address.c_str(), network.address) == 1) {
        network.family = AF_INET6;
        maxBits = 128;
    } else {
        throw UsageError("bridge: --allow needs ADDR[/BITS] with a numeric address, not '" + text +
                         "'");
    }
    network.bits = slash == std::string::npos
                       ? maxBits
                       : static_cast<int>(requireInteger(text.substr(slash + 1), 0, maxBits,
                                                         "bridge: --allow prefix length"));
    return network;
}

BridgeOptions parseBridgeOptions(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError(std::string("bridge: expected ") + kUsage);
    BridgeOptions options;
    options.port =
        static_cast<uint16_t>(requireInteger(args[0], 0, SN_PORTS - 1, "bridge: virtual port"));
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        if (isFlag(name)) {
            (name == "--raw" ? options.raw : options.keep) = true;
            continue;
        }
        if (const auto equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else if (name.rfind("-", 0) == 0 && i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError("bridge: unexpected '" + name + "' (expected " + kUsage + ")");
        }
        applyOption(options, name, value);
    }
    checkCombination(options);
    return options;
}

}  // namespace snctl

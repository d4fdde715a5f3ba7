#include "bridgeOptions.h"

#include "failure.h"
#include "numberParsing.h"
#include "snLimits.h"

namespace snctl {

namespace {

const char* const kUsage = "bridge P [-b BAUD] [--parity N|E|O] [--stop 1|2] --link PATH";

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

void applyOption(BridgeOptions& options, const std::string& name, const std::string& value) {
    if (name == "-b" || name == "--baud") {
        options.baud =
            requireInteger(value, SN_MIN_PORT_SPEED, SN_MAX_PORT_SPEED, "bridge: port speed");
    } else if (name == "--parity") {
        options.parity = parityOf(value);
    } else if (name == "--stop") {
        options.stopBits = static_cast<int>(requireInteger(value, 1, 2, "bridge: stop bits"));
    } else if (name == "--link") {
        if (value.empty()) throw UsageError("bridge: --link needs a path");
        options.link = value;
    } else {
        throw UsageError("bridge: unknown option '" + name + "' (expected " + kUsage + ")");
    }
}

}  // namespace

BridgeOptions parseBridgeOptions(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError(std::string("bridge: expected ") + kUsage);
    BridgeOptions options;
    options.port =
        static_cast<uint16_t>(requireInteger(args[0], 0, SN_PORTS - 1, "bridge: virtual port"));
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
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
    if (options.link.empty())
        throw UsageError(std::string("bridge: --link PATH is required (") + kUsage + ")");
    return options;
}

}  // namespace snctl

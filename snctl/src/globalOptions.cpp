#include "globalOptions.h"

#include "comName.h"
#include "deviceHints.h"
#include "failure.h"
#include "numberParsing.h"
#include "snLimits.h"

#include <getopt.h>

#include <string>

namespace snctl {

namespace {

constexpr int kJsonOption = 1000;
constexpr int kVersionOption = 1001;

const option kLongOptions[] = {
    {"port", required_argument, nullptr, 'p'},
    {"modbus-baud", required_argument, nullptr, 'm'},
    {"slave", required_argument, nullptr, 'a'},
    {"debug", required_argument, nullptr, 'd'},
    {"json", no_argument, nullptr, kJsonOption},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersionOption},
    {nullptr, 0, nullptr, 0},
};

void applyDebugBits(GlobalOptions& options, const char* text) {
    const long bits = requireInteger(text, 0, 3, "-d (debug bits: 1 library trace, 2 libmodbus)");
    options.libraryTrace = options.libraryTrace || (bits & 1) != 0;
    options.modbusDebug = options.modbusDebug || (bits & 2) != 0;
}

std::string deviceName(const char* value) {
    if (*value == '\0') throw UsageError("-p (serial device) needs a name");
    checkTcpName(value, "-p ");
    return translateDeviceName(value);
}

void applyOption(GlobalOptions& options, int letter, const char* value) {
    switch (letter) {
        case 'p':
            options.device = deviceName(value);
            options.deviceGiven = true;
            break;
        case 'm':
            options.modbusBaud = parseModbusSpeed(value, "-m (Modbus speed)");
            break;
        case 'a':
            options.slave = static_cast<int>(requireInteger(value, 1, 247, "-a (slave address)"));
            break;
        case 'd':
            applyDebugBits(options, value);
            break;
        case kVersionOption:
            options.version = true;
            break;
        case kJsonOption:
            options.json = true;
            break;
        case 'h':
            options.help = true;
            break;
        default:
            throw UsageError("unknown option (see snctl --help)");
    }
}

}  // namespace

// Refused here, with the list, rather than failing late at the open.
int parseModbusSpeed(std::string_view text, const std::string& what) {
    static constexpr int kSpeeds[] = {SN_LINE_SPEEDS};
    const long speed = requireInteger(text, 1, 4000000, what);
    for (const int supported : kSpeeds) {
        if (speed == supported) return supported;
    }
    std::string list;
    for (const int supported : kSpeeds)
        list += (list.empty() ? "" : " ") + std::to_string(supported);
    throw UsageError(what + ": " + std::to_string(speed) +
                     " is not a speed the serial driver can set; use one of " + list);
}

GlobalOptions parseGlobalOptions(int argc, char* argv[]) {
    GlobalOptions options;
    optind = 0;  // GNU: full re-initialisation
    opterr = 0;  // our own message instead of getopt's
    for (;;) {
        const int letter = getopt_long(argc, argv, "+:p:m:a:d:h", kLongOptions, nullptr);
        if (letter == -1) break;
        if (letter == '?') {
            const std::string shown = optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                                  : std::string(argv[optind - 1]);
            throw UsageError("unknown option " + shown +
                             " (options go before the command; see --help)");
        }
        if (letter == ':') throw UsageError(std::string(argv[optind - 1]) + " needs a value");
        applyOption(options, letter, optarg);
    }
    for (int i = optind; i < argc; ++i) options.command.emplace_back(argv[i]);
    return options;
}

}  // namespace snctl

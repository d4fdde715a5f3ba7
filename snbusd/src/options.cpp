#include "options.h"

#include <getopt.h>

#include <stdexcept>

#include "snLimits.h"
#include "sncommon/comName.h"
#include "sncommon/integerParsing.h"
#include "snline/hostPort.h"

namespace snbusd {

namespace {

enum LongOnly {
    kListen = 1000,
    kMetrics,
    kReadOnly,
    kUnits,
    kMaxClients,
    kIdleTimeout,
    kTimeout,
    kWaitForDevice,
    kVersion
};

const option kLongOptions[] = {
    {"port", required_argument, nullptr, 'p'},
    {"baud", required_argument, nullptr, 'm'},
    {"listen", required_argument, nullptr, kListen},
    {"metrics", required_argument, nullptr, kMetrics},
    {"read-only", no_argument, nullptr, kReadOnly},
    {"units", required_argument, nullptr, kUnits},
    {"max-clients", required_argument, nullptr, kMaxClients},
    {"idle-timeout", required_argument, nullptr, kIdleTimeout},
    {"timeout", required_argument, nullptr, kTimeout},
    {"wait-for-device", no_argument, nullptr, kWaitForDevice},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

long number(const char* text, long min, long max, const char* what) {
    const auto value = sncommon::parseInteger(text, min, max);
    if (!value) throw std::invalid_argument(sncommon::integerRangeError(what, min, max, text));
    return *value;
}

std::string hostPort(const char* text, const char* what) {
    snline::HostPort parsed;
    if (!snline::parseListenAddress(text, parsed)) {
        throw std::invalid_argument(std::string(what) + " must be HOST:PORT (an IPv6 host in " +
                                    "brackets), not '" + text + "'");
    }
    return text;
}

std::string deviceName(const char* text) {
    if (*text == '\0') throw std::invalid_argument("-p (serial device) needs a name");
    char translated[sncommon::kComNameSize];
    switch (sncommon::translateComName(text, translated)) {
        case sncommon::ComTranslation::Translated:
            return translated;
        case sncommon::ComTranslation::Invalid:
            throw std::invalid_argument(std::string("device ") + text + " names no serial port");
        case sncommon::ComTranslation::NotCom:
            break;
    }
    return text;
}

// libmodbus would silently run any other speed at 9600.
int lineSpeed(const char* value) {
    static constexpr int kSpeeds[] = {SN_LINE_SPEEDS};
    const long speed = number(value, 1, 4000000, "-m (line speed)");
    for (const int supported : kSpeeds)
        if (speed == supported) return supported;
    throw std::invalid_argument("-m (line speed): " + std::to_string(speed) +
                                " is not a speed the serial driver can set");
}

void apply(Options& options, int letter, const char* value) {
    switch (letter) {
        case 'p':
            options.device = deviceName(value);
            break;
        case 'm':
            options.baud = lineSpeed(value);
            break;
        case kListen:
            options.listen.push_back(hostPort(value, "--listen"));
            break;
        case kMetrics:
            options.metrics = hostPort(value, "--metrics");
            break;
        case kReadOnly:
            options.readOnly = true;
            break;
        case kUnits:
            options.units = parseUnits(value);
            break;
        case kMaxClients:
            options.maxClients = static_cast<int>(number(value, 1, 1000, "--max-clients"));
            break;
        case kIdleTimeout:
            options.idleTimeout = std::chrono::seconds(number(value, 1, 86400, "--idle-timeout"));
            break;
        case kTimeout:
            options.timeout = std::chrono::milliseconds(number(value, 10, 60000, "--timeout"));
            break;
        case kWaitForDevice:
            options.waitForDevice = true;
            break;
        case 'v':
            options.verbose = true;
            break;
        case 'h':
            options.help = true;
            break;
        case kVersion:
            options.version = true;
            break;
        default:
            throw std::invalid_argument("unknown option (see snbusd -h)");
    }
}

}  // namespace

std::vector<bool> parseUnits(const std::string& list) {
    std::vector<bool> allowed(248, false);
    std::size_t start = 0;
    for (;;) {
        const auto comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto dash = item.find('-', 1);
        const std::string first = item.substr(0, dash);
        const std::string last = dash == std::string::npos ? first : item.substr(dash + 1);
        const long from = number(first.c_str(), 1, 247, "--units (slave address)");
        const long to = number(last.c_str(), from, 247, "--units (end of a range)");
        for (long unit = from; unit <= to; ++unit) allowed[static_cast<std::size_t>(unit)] = true;
        if (comma == std::string::npos) return allowed;
        start = comma + 1;
    }
}

Options parseOptions(int argc, char* argv[]) {
    Options options;
    optind = 0;  // GNU: full re-initialisation
    opterr = 0;  // our own message instead of getopt's
    for (;;) {
        const int letter = getopt_long(argc, argv, ":p:m:vh", kLongOptions, nullptr);
        if (letter == -1) break;
        if (letter == '?')
            throw std::invalid_argument("unknown option " + std::string(argv[optind - 1]));
        if (letter == ':')
            throw std::invalid_argument(std::string(argv[optind - 1]) + " needs a value");
        apply(options, letter, optarg);
    }
    if (optind < argc)
        throw std::invalid_argument("unexpected argument '" + std::string(argv[optind]) + "'");
    if (options.help || options.version) return options;
    if (options.device.empty())
        throw std::invalid_argument("-p DEVICE is required (see snbusd -h)");
    if (options.listen.empty()) options.listen.push_back(kDefaultListen);
    return options;
}

const char* usage() {
    return "usage: snbusd -p DEVICE [-m BAUD] [--listen HOST:PORT]... [--metrics HOST:PORT]\n"
           "              [--read-only] [--units LIST] [--max-clients N] [--idle-timeout SECONDS]\n"
           "              [--timeout MS] [--wait-for-device] [-v] [-h] [--version]\n"
           "Owns one Modbus RTU line and serves it to Modbus TCP clients, one transaction at a\n"
           "time, shared fairly between them.\n"
           "  -p, --port DEVICE      serial device; COMn means /dev/ttyS(n-1)\n"
           "  -m, --baud N           line speed (default 115200)\n"
           "      --listen HOST:PORT where clients connect (repeatable; default 127.0.0.1:1502)\n"
           "      --metrics HOST:PORT Prometheus metrics at /metrics\n"
           "      --read-only        answer every function but 1 to 4 with exception 1\n"
           "      --units LIST       serve only these slave addresses, e.g. 1,3-5 (others: 0x0B)\n"
           "      --max-clients N    connections at once (default 32)\n"
           "      --idle-timeout S   close a connection without a request for S seconds (300)\n"
           "      --timeout MS       response timeout on the line (default 600; bytes: 50)\n"
           "      --wait-for-device  start without the device and open it once it is there\n"
           "  -v, --verbose          a log line per transaction\n"
           "  -h, --help             print this help\n"
           "      --version          print the version\n";
}

}  // namespace snbusd

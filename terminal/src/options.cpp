#include "snterm/options.h"

#include "snVersion.h"
#include "sncommon/comName.h"
#include "sncommon/integerParsing.h"

#include <getopt.h>
#include <unistd.h>
#include <algorithm>
#include <climits>
#include <cstdlib>

namespace snterm {

namespace {

constexpr int kMinSlaveID = 1;
constexpr int kMaxSlaveID = 247;
constexpr int kMaxTargetPort = 3;

constexpr int kVersion = 1000;
const option kLongOptions[] = {{"version", no_argument, nullptr, kVersion},
                               {nullptr, 0, nullptr, 0}};

ParseResult exitWith(int status) { return ParseResult{false, status}; }

void setSlaveID(Settings& settings, int slave, std::FILE* out) {
    if (slave < kMinSlaveID || slave > kMaxSlaveID) {
        std::fprintf(out, "Invalid slave ID: %d.  Setting to 1\n", slave);
        slave = 1;
    }
    settings.slaveID = slave;
}

void setDebugBits(Settings& settings, int bits) {
    if ((bits & 1) != 0) {
        settings.snDebug = 1;
    }
    if ((bits & 2) != 0) {
        settings.modDebug = 1;
    }
}

bool setModbusPort(Settings& settings, const char* name, std::FILE* out) {
    using sncommon::ComTranslation;
    char translated[sncommon::kComNameSize] = {};
    switch (sncommon::translateComName(name, translated)) {
        case ComTranslation::Translated:
            settings.modPort = translated;
            return true;
        case ComTranslation::Invalid:
            std::fprintf(out, "Invalid COM port: %s\n", name);
            return false;
        case ComTranslation::NotCom:
            break;
    }
    settings.modPort = name;
    return true;
}

void resetGetopt() {
#ifdef __GLIBC__
    optind = 0;  // glibc's full reinitialisation
#else
    optind = 1;
#endif
}

}  // namespace

int parseNumber(const char* text) {
    const auto number = sncommon::readLeadingInteger(text);
    if (!number) return 0;
    return static_cast<int>(std::clamp<long>(number->value, INT_MIN, INT_MAX));
}

ParseResult parseOptions(int argc, char* argv[], Settings& settings, std::FILE* out) {
    const char* programName = argc > 0 && argv[0] != nullptr ? argv[0] : "snterm";
    resetGetopt();
    int option = 0;
    // The same short options as ever; --version is the one long option.
    while ((option = getopt_long(argc, argv, "a:b:d:hm:p:t:", kLongOptions, nullptr)) != -1) {
        switch (option) {
            case 'a':
                setSlaveID(settings, parseNumber(optarg), out);
                break;
            case 'b':
                settings.targetBaud = parseNumber(optarg);
                break;
            case 'd':
                setDebugBits(settings, parseNumber(optarg));
                break;
            case 'm':
                settings.modBaud = parseNumber(optarg);
                break;
            case 'p':
                if (!setModbusPort(settings, optarg, out)) {
                    return exitWith(1);
                }
                break;
            case 't': {
                const int port = parseNumber(optarg);
                if (port < 0 || port > kMaxTargetPort) {
                    std::fprintf(out, "Invalid target serial port: %d\n", port);
                    printUsage(out, programName);
                    return exitWith(0);
                }
                settings.targetPort = port;
                break;
            }
            case 'h':
                printUsage(out, programName);
                return exitWith(0);
            case kVersion:
                std::fprintf(out, "snterm (snLib) %s\n", SN_VERSION);
                return exitWith(0);
            default:
                break;  // getopt has reported it already
        }
    }
    return ParseResult{};
}

void printUsage(std::FILE* out, const char* programName) {
    std::fprintf(
        out, "%s [-a <slaveAddr>] [-b <baud>] [-d] [-p <modbus port>] [-t <target port] [-h]\n\n",
        programName);
    std::fputs(
        "\t[-p <port>] Use serial port <port> to communicate with Modbus device\n"
        "\t\tDefaults to COM1\n"
        "\t[-a <slaveAddr>] Communicate with Modbus slave <slaveAddr>, 1-247\n"
        "\t\tDefaults to 1\n"
        "\t[-m <modbus baud>] Set Modbus baud rate.  Defaults to 115200\n"
        "\t[-t <target port>] Send/get serial comms to target port <port> (0-3)\n"
        "\t\tDefaults to port 0\n"
        "\t[-b <target baud>] Baud rate for target (virtual) serial port\n"
        "\t\tDefaults to 9600\n"
        "\t[-d <0-3>] Print debug messages\n"
        "\t[-h] Print this message\n",
        out);
}

}  // namespace snterm

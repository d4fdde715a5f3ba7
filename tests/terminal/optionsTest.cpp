// Command-line handling of snterm, checked without any device.
#include "sncommon/comName.h"
#include "snterm/options.h"

#include <gtest/gtest.h>

#include <regex>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using sncommon::ComTranslation;
using snterm::ParseResult;
using snterm::Settings;

struct Parsed {
    ParseResult result;
    Settings settings;
    std::string output;
};

// Runs the parser on "snterm" followed by `args`, capturing what it prints.
Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "snterm");
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    Parsed parsed;
    parsed.result =
        snterm::parseOptions(static_cast<int>(args.size()), argv.data(), parsed.settings, out);
    std::fclose(out);
    parsed.output.assign(text, length);
    std::free(text);
    return parsed;
}

const char* const kUsage =
    "snterm [-a <slaveAddr>] [-b <baud>] [-d] [-p <modbus port>] [-t <target port] [-h]\n"
    "\n"
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
    "\t[-h] Print this message\n";

void expectProceeds(const Parsed& parsed) { EXPECT_TRUE(parsed.result.proceed) << parsed.output; }

void expectExit(const Parsed& parsed, int status) {
    EXPECT_FALSE(parsed.result.proceed);
    EXPECT_EQ(parsed.result.exitStatus, status);
}

TEST(OptionsTest, DefaultsWithoutOptions) {
    const Parsed parsed = parse({});
    expectProceeds(parsed);
    EXPECT_EQ(parsed.output, "");
    EXPECT_EQ(parsed.settings.slaveID, 1);
    EXPECT_EQ(parsed.settings.modBaud, 115200);
    EXPECT_EQ(parsed.settings.targetBaud, 9600);
    EXPECT_EQ(parsed.settings.modPort, "/dev/ttyS0");
    EXPECT_EQ(parsed.settings.targetPort, 0);
    EXPECT_EQ(parsed.settings.snDebug, 0);
    EXPECT_EQ(parsed.settings.modDebug, 0);
}

TEST(OptionsTest, EachOptionSetsItsSetting) {
    const Parsed parsed =
        parse({"-a", "17", "-b", "19200", "-m", "57600", "-p", "/dev/ttyUSB0", "-t", "2"});
    expectProceeds(parsed);
    EXPECT_EQ(parsed.output, "");
    EXPECT_EQ(parsed.settings.slaveID, 17);
    EXPECT_EQ(parsed.settings.targetBaud, 19200);
    EXPECT_EQ(parsed.settings.modBaud, 57600);
    EXPECT_EQ(parsed.settings.modPort, "/dev/ttyUSB0");
    EXPECT_EQ(parsed.settings.targetPort, 2);
}

TEST(OptionsTest, ComNamesTranslateToTtyS) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"COM3", "/dev/ttyS2"},
        {"com12", "/dev/ttyS11"},
        {"cOm1", "/dev/ttyS0"},
        {"COM 3", "/dev/ttyS2"},
        {"COM+3", "/dev/ttyS2"},
        {"COM3:", "/dev/ttyS2"},
        {"COM1000000", "/dev/ttyS999999"},  // the longest name that fits
        {"COMX", "COMX"},
        {"COM", "COM"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"XCOM3", "XCOM3"},
        {"COM-", "COM-"},
    };
    for (const auto& [given, expected] : cases) {
        const Parsed parsed = parse({"-p", given});
        expectProceeds(parsed);
        EXPECT_EQ(parsed.output, "") << given;
        EXPECT_EQ(parsed.settings.modPort, expected) << given;
    }
}

TEST(OptionsTest, ComNumbersWithoutValidNameAreRefused) {
    for (const std::string given :
         {"COM0", "COM-5", "COM99999999999", "COM1000001", "COM2147483648", "com-2147483648"}) {
        const Parsed parsed = parse({"-p", given, "-a", "5"});
        expectExit(parsed, 1);
        EXPECT_EQ(parsed.output, "Invalid COM port: " + given + "\n");
    }
}

TEST(OptionsTest, ComTranslationNeverWritesOutsideItsBuffer) {
    struct Guarded {
        char before[8];
        char name[sncommon::kComNameSize];
        char after[8];
    } guarded;
    std::memset(&guarded, 'G', sizeof guarded);

    EXPECT_EQ(sncommon::translateComName("COM0", guarded.name), ComTranslation::Invalid);
    EXPECT_EQ(sncommon::translateComName("COM4294967297", guarded.name), ComTranslation::Invalid);
    EXPECT_EQ(std::string(guarded.name, sizeof guarded.name), std::string(16, 'G'));

    EXPECT_EQ(sncommon::translateComName("COM1000000", guarded.name), ComTranslation::Translated);
    EXPECT_STREQ(guarded.name, "/dev/ttyS999999");
    EXPECT_EQ(std::string(guarded.before, 8), std::string(8, 'G'));
    EXPECT_EQ(std::string(guarded.after, 8), std::string(8, 'G'));
}

TEST(OptionsTest, SlaveIdOutOfRangeIsCorrectedToOne) {
    for (const std::string given : {"0", "248", "-1", "abc"}) {
        const Parsed parsed = parse({"-a", given, "-m", "9600"});
        expectProceeds(parsed);
        EXPECT_EQ(parsed.settings.slaveID, 1) << given;
        EXPECT_EQ(parsed.settings.modBaud, 9600) << "parsing must go on after " << given;
        const std::string shown = given == "abc" ? "0" : given;
        EXPECT_EQ(parsed.output, "Invalid slave ID: " + shown + ".  Setting to 1\n");
    }
    const Parsed limit = parse({"-a", "247"});
    EXPECT_EQ(limit.output, "");
    EXPECT_EQ(limit.settings.slaveID, 247);
}

TEST(OptionsTest, BadTargetPortPrintsUsageAndEndsWithZero) {
    for (const std::string given : {"4", "-1"}) {
        const Parsed parsed = parse({"-t", given});
        expectExit(parsed, 0);
        EXPECT_EQ(parsed.output, "Invalid target serial port: " + given + "\n" + kUsage);
    }
    const Parsed three = parse({"-t", "3"});
    expectProceeds(three);
    EXPECT_EQ(three.output, "");
    EXPECT_EQ(three.settings.targetPort, 3);
}

TEST(OptionsTest, DebugBitsSwitchTheirOwnFlag) {
    struct Case {
        std::vector<std::string> args;
        int snDebug;
        int modDebug;
    };
    const std::vector<Case> cases = {
        {{"-d", "3"}, 1, 1},
        {{"-d", "2"}, 0, 1},
        {{"-d", "1"}, 1, 0},
        {{"-d", "4"}, 0, 0},
        {{"-d", "1", "-d", "2"}, 1, 1},  // a flag once set stays set
        {{"-d", "3", "-d", "0"}, 1, 1},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.args);
        expectProceeds(parsed);
        EXPECT_EQ(parsed.settings.snDebug, c.snDebug) << c.args[1];
        EXPECT_EQ(parsed.settings.modDebug, c.modDebug) << c.args[1];
    }
}

TEST(OptionsTest, HelpPrintsUsageByteForByteAndEndsWithZero) {
    const Parsed parsed = parse({"-a", "5", "-h", "-t", "9"});
    expectExit(parsed, 0);
    EXPECT_EQ(parsed.output, kUsage);
}

// The one long option; the short ones are as they always were.
TEST(OptionsTest, VersionPrintsItAndEndsWithZero) {
    const Parsed parsed = parse({"-a", "5", "--version"});
    expectExit(parsed, 0);
    EXPECT_TRUE(std::regex_match(parsed.output,
                                 std::regex("snterm \\(snLib\\) [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << parsed.output;
    EXPECT_EQ(parsed.settings.slaveID, 5);
}

TEST(OptionsTest, LaterOptionsOverrideEarlierOnes) {
    const Parsed parsed =
        parse({"-a", "5", "-p", "COM3", "-a", "7", "-p", "/dev/ttyACM1", "-t", "1", "-t", "2"});
    expectProceeds(parsed);
    EXPECT_EQ(parsed.settings.slaveID, 7);
    EXPECT_EQ(parsed.settings.modPort, "/dev/ttyACM1");
    EXPECT_EQ(parsed.settings.targetPort, 2);
}

TEST(OptionsTest, UnknownOptionsAndStrayArgumentsAreIgnored) {
    const Parsed parsed = parse({"-x", "-a", "9", "leftover", "-q"});
    expectProceeds(parsed);
    EXPECT_EQ(parsed.output, "");  // getopt itself complains on stderr
    EXPECT_EQ(parsed.settings.slaveID, 9);

    const Parsed missing = parse({"-b", "300", "-m"});  // -m without its number
    expectProceeds(missing);
    EXPECT_EQ(missing.settings.targetBaud, 300);
    EXPECT_EQ(missing.settings.modBaud, 115200);
}

TEST(OptionsTest, NumbersAreReadLikeAtoiWithoutOverflow) {
    const Parsed parsed = parse({"-m", "fast", "-b", "12abc", "-t", "x"});
    expectProceeds(parsed);
    EXPECT_EQ(parsed.settings.modBaud, 0);
    EXPECT_EQ(parsed.settings.targetBaud, 12);
    EXPECT_EQ(parsed.settings.targetPort, 0);

    EXPECT_EQ(snterm::parseNumber("  +42"), 42);
    EXPECT_EQ(snterm::parseNumber("99999999999"), 2147483647);
    EXPECT_EQ(snterm::parseNumber("-99999999999999999999999"), -2147483647 - 1);

    const Parsed huge = parse({"-t", "4294967296"});  // must not wrap to port 0
    expectExit(huge, 0);
    EXPECT_EQ(huge.output.rfind("Invalid target serial port: 2147483647\n", 0), 0u);
}

TEST(OptionsTest, ParsingStartsAfreshEachTime) {
    expectExit(parse({"-h", "-a", "9"}), 0);  // stops with getopt half-way
    const Parsed parsed = parse({"-a", "9"});
    expectProceeds(parsed);
    EXPECT_EQ(parsed.settings.slaveID, 9);
}

}  // namespace

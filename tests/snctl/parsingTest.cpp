// snctl's command-line parsing, no device needed.
#include "bridgeOptions.h"
#include "comName.h"
#include "failure.h"
#include "globalOptions.h"
#include "numberParsing.h"
#include "report.h"
#include "textEscapes.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <climits>
#include <string>
#include <vector>

namespace {

using snctl::parseInteger;

TEST(NumberParsing, AcceptsWholeDecimalOrHexNumbersInRangeOnly) {
    EXPECT_EQ(parseInteger("0", 0, 10), 0);
    EXPECT_EQ(parseInteger("10", 0, 10), 10);
    EXPECT_EQ(parseInteger("-5", -5, 10), -5);
    EXPECT_EQ(parseInteger("0x1F", 0, 255), 31);
    EXPECT_EQ(parseInteger("0XfF", 0, 255), 255);
    EXPECT_EQ(parseInteger("010", 0, 255), 10) << "a leading zero is not octal";
    EXPECT_EQ(parseInteger("-9223372036854775808", LONG_MIN, 0), LONG_MIN);
    for (const char* bad : {"", "-", "11", "-6", "1x", " 1", "1 ", "+1", "--1", "-+1", "0x", "0x-1",
                            "abc", "99999999999999999999", "9223372036854775808", "1.5"}) {
        EXPECT_FALSE(parseInteger(bad, -5, 10)) << bad;
    }
}

TEST(ComNames, TranslateToTtySOrRefuseNumbersThatNameNoPort) {
    EXPECT_EQ(snctl::translateDeviceName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(snctl::translateDeviceName("com12"), "/dev/ttyS11");
    EXPECT_EQ(snctl::translateDeviceName("cOm 3"), "/dev/ttyS2");
    EXPECT_EQ(snctl::translateDeviceName("COM+3"), "/dev/ttyS2");
    EXPECT_EQ(snctl::translateDeviceName("COM1000000"), "/dev/ttyS999999");
    EXPECT_EQ(snctl::translateDeviceName("COMX"), "COMX");
    EXPECT_EQ(snctl::translateDeviceName("COM"), "COM");
    EXPECT_EQ(snctl::translateDeviceName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    for (const char* bad : {"COM0", "com-1", "COM1000001", "COM99999999999999999999"}) {
        EXPECT_THROW(snctl::translateDeviceName(bad), snctl::UsageError) << bad;
    }
}

snctl::GlobalOptions parse(std::vector<std::string> args) {
    args.insert(args.begin(), "snctl");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return snctl::parseGlobalOptions(static_cast<int>(args.size()), argv.data());
}

TEST(GlobalOptions, DefaultsOverridesAndTheCommandLeftIntact) {
    EXPECT_TRUE(parse({"--version"}).version);
    const auto defaults = parse({"info"});
    EXPECT_EQ(defaults.device, "/dev/ttyS0");
    EXPECT_EQ(defaults.modbusBaud, 115200);
    EXPECT_EQ(defaults.slave, 1);
    EXPECT_FALSE(defaults.libraryTrace || defaults.modbusDebug || defaults.json);

    const auto set = parse(
        {"-p", "COM2", "-m", "9600", "-a", "247", "-d", "2", "--json", "port", "0", "send", "-a"});
    EXPECT_EQ(set.device, "/dev/ttyS1");
    EXPECT_EQ(set.modbusBaud, 9600);
    EXPECT_EQ(set.slave, 247);
    EXPECT_FALSE(set.libraryTrace);
    EXPECT_TRUE(set.modbusDebug);
    EXPECT_TRUE(set.json);
    EXPECT_EQ(set.command, (std::vector<std::string>{"port", "0", "send", "-a"}));

    const auto both = parse({"-d", "1", "-d", "2", "info"});
    EXPECT_TRUE(both.libraryTrace && both.modbusDebug) << "a debug bit once set stays set";
    EXPECT_TRUE(parse({"--help"}).help);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"-a", "248", "info"},
                                               {"-a", "0"},
                                               {"-m", "0"},
                                               {"-m", "9600baud"},
                                               {"-d", "x"},
                                               {"-x"},
                                               {"--nope"},
                                               {"-p"}}) {
        EXPECT_THROW(parse(bad), snctl::UsageError) << bad[0];
    }
}

TEST(TextEscapes, DecodeEveryByteValue) {
    std::string text;
    std::vector<uint8_t> expected;
    for (int b = 0; b < 256; ++b) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
        text += escaped;
        expected.push_back(static_cast<uint8_t>(b));
    }
    EXPECT_EQ(snctl::decodeEscapes(text), expected);
    EXPECT_EQ(snctl::decodeEscapes("a\\n\\r\\t\\0\\\\"),
              (std::vector<uint8_t>{'a', '\n', '\r', '\t', 0, '\\'}));
    for (const char* bad : {"\\", "\\q", "\\x", "\\x1", "\\xg0", "\\x-1"}) {
        EXPECT_THROW(snctl::decodeEscapes(bad), snctl::UsageError) << bad;
    }
}

TEST(JsonStrings, EscapeQuotesControlAndHighBytes) {
    EXPECT_EQ(snctl::jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(snctl::jsonString(std::string("\x00\x1f\x7f\xff", 4)),
              "\"\\u0000\\u001f\\u007f\\u00ff\"");
}

TEST(BridgeOptions, ListenAddressesFlagsAndTheirCombinations) {
    using Args = std::vector<std::string>;
    snctl::BridgeOptions options = snctl::parseBridgeOptions({"1", "--listen", "4001"});
    ASSERT_TRUE(options.listen.has_value());
    EXPECT_EQ(std::string(options.listen->host), "127.0.0.1") << "loopback unless told";
    EXPECT_EQ(std::string(options.listen->port), "4001");
    options = snctl::parseBridgeOptions(
        {"2", "-b", "115200", "--listen=[::1]:0", "--raw", "--keep", "--allow", "10.1.0.0/16"});
    EXPECT_EQ(std::string(options.listen->host), "::1");
    EXPECT_TRUE(options.raw && options.keep);
    EXPECT_EQ(options.line, (snctl::PortLine{115200, 'N', 1}));
    ASSERT_EQ(options.allowed.size(), 1u);
    EXPECT_EQ(options.allowed[0].family, AF_INET);
    EXPECT_EQ(options.allowed[0].bits, 16);
    EXPECT_EQ(snctl::parseAllowedNetwork("fe80::1").bits, 128);
    for (const Args& bad :
         {Args{"1", "--listen", "4001", "--link", "/tmp/x"}, Args{"1", "--raw"},
          Args{"1", "--link", "/tmp/x", "--keep"}, Args{"1", "--listen", "host:"},
          Args{"1", "--listen", "70000"}, Args{"1", "--listen", "1", "--allow", "10.0.0.0/33"},
          Args{"1", "--listen", "1", "--allow", "example.org"}}) {
        EXPECT_THROW(snctl::parseBridgeOptions(bad), snctl::UsageError) << bad.back();
    }
}

}  // namespace

// What a command topic's payload asks of a node, and the refusals a user
// reads in the bridge's log when it asks for something the node has not.
#include <gtest/gtest.h>

#include <string>

#include "commandPayload.h"
#include "printableText.h"

namespace {

using snmqtt::CommandKind;
using snmqtt::CommandTopic;
using snmqtt::parseMqttCommand;
using snmqtt::RefusalKind;
using snpoll::Action;

CommandTopic topic(CommandKind kind, int index = 0) { return {"rack1", kind, index, ""}; }

snpoll::Command accepted(CommandKind kind, int index, std::string_view payload) {
    const auto parsed = parseMqttCommand(topic(kind, index), payload);
    EXPECT_TRUE(parsed.command) << payload << ": " << parsed.refusal;
    EXPECT_EQ(parsed.kind, RefusalKind::None) << payload;
    return parsed.command.value_or(snpoll::Command{});
}

void refused(CommandKind kind, int index, std::string_view payload, const char* topicName) {
    const auto parsed = parseMqttCommand(topic(kind, index), payload);
    EXPECT_FALSE(parsed.command) << payload;
    EXPECT_EQ(parsed.kind, RefusalKind::BadPayload) << payload;
    EXPECT_EQ(parsed.refusal.rfind(std::string(topicName) + ": payload '", 0), 0u)
        << parsed.refusal;
}

TEST(CommandPayload, PowerTakesOnOffToggleAndOneOrZeroInAnyCaseAndBlanks) {
    for (const char* on : {"ON", "on", " On\r\n", "1", "\t1"}) {
        const auto c = accepted(CommandKind::Power, 2, on);
        EXPECT_EQ(c.action, Action::Power);
        EXPECT_EQ(c.index, 2);
        EXPECT_EQ(c.value, 1) << on;
    }
    for (const char* off : {"OFF", "off", "0 "})
        EXPECT_EQ(accepted(CommandKind::Power, 0, off).value, 0);
    for (const char* toggle : {"TOGGLE", "toggle", " Toggle "}) {
        const auto c = accepted(CommandKind::Power, 3, toggle);
        EXPECT_EQ(c.action, Action::PowerToggle);
        EXPECT_EQ(c.index, 3);
    }
    for (const char* bad : {"MAYBE", "ONN", "O N", "", "  ", "2", "true", "01"})
        refused(CommandKind::Power, 1, bad, "rack1/power/1/set");
    EXPECT_EQ(parseMqttCommand(topic(CommandKind::Power, 1), "MAYBE").refusal,
              "rack1/power/1/set: payload 'MAYBE' is not ON, OFF or TOGGLE");
}

TEST(CommandPayload, BlinkTakesAPatternAndDcAlwaysOnAnOnOrOff) {
    EXPECT_EQ(accepted(CommandKind::Blink, 0, " 2 ").value, 2);
    EXPECT_EQ(accepted(CommandKind::Blink, 0, "0").action, Action::Blink);
    for (const char* bad : {"3", "-1", "x", "", "1.0"})
        refused(CommandKind::Blink, 0, bad, "rack1/blink/set");
    const auto dc = accepted(CommandKind::DcAlwaysOn, 0, "on");
    EXPECT_EQ(dc.action, Action::DcAlwaysOn);
    EXPECT_EQ(dc.value, 1);
    EXPECT_EQ(accepted(CommandKind::DcAlwaysOn, 0, "OFF").value, 0);
    refused(CommandKind::DcAlwaysOn, 0, "TOGGLE", "rack1/dc/set");
}

TEST(CommandPayload, AnalogParametersAreTwoWordsPlainOrAsAJsonArray) {
    for (const char* payload :
         {"100 65535", " 100\t65535\n", "[100, 65535]", "[100,65535]", "0x64 0xFFFF"}) {
        const auto c = accepted(CommandKind::AnalogParms, 7, payload);
        EXPECT_EQ(c.action, Action::AnalogParms);
        EXPECT_EQ(c.index, 7);
        EXPECT_EQ(c.words[0], 100) << payload;
        EXPECT_EQ(c.words[1], 65535) << payload;
    }
    for (const char* bad :
         {"65536 0", "0 -1", "1", "1 2 3", "1,2", "[1]", "[1, 2, 3]", "[1.0, 2]", "[-1, 2]",
          "[\"1\", 2]", "[1, 65536]", "[1, 2", "{\"words\": [1, 2]}", ""})
        refused(CommandKind::AnalogParms, 7, bad, "rack1/analog/7/parms/set");
}

TEST(CommandPayload, PortLineIsASpeedWithEightDataBitsParityAndStopBits) {
    auto c = accepted(CommandKind::PortLine, 2, "115200 8N1");
    EXPECT_EQ(c.action, Action::PortLine);
    EXPECT_EQ(c.index, 2);
    EXPECT_EQ(c.value, 115200);
    EXPECT_EQ(c.parity, 'N');
    EXPECT_EQ(c.stopBits, 1);
    c = accepted(CommandKind::PortLine, 0, " 9600  8e2 ");
    EXPECT_EQ(c.parity, 'E');
    EXPECT_EQ(c.stopBits, 2);
    c = accepted(CommandKind::PortLine, 0, "4");  // alone: 8N1
    EXPECT_EQ(c.value, 4);
    EXPECT_EQ(c.parity, 'N');
    EXPECT_EQ(c.stopBits, 1);
    EXPECT_EQ(accepted(CommandKind::PortLine, 0, "262143 8O1").parity, 'O');
    // The node keeps a quarter of the speed in 16 bits: a faster one would
    // be cut to a wrong speed, so it is refused here.
    for (const char* bad : {"262144", "1000000 8N1", "3", "0", "-9600", "fast", "115200 7N1",
                            "115200 8X1", "115200 8N3", "115200 8N", "115200 8N1 x", ""})
        refused(CommandKind::PortLine, 1, bad, "rack1/port/1/line/set");
}

TEST(CommandPayload, RefusalsKeepTheirKindsApart) {
    // The topic's own fault comes first, whatever the payload.
    const auto outOfRange =
        parseMqttCommand({"rack1", CommandKind::Power, -1, "output '9' is not 0-3"}, "ON");
    EXPECT_FALSE(outOfRange.command);
    EXPECT_EQ(outOfRange.kind, RefusalKind::OutOfRange);
    EXPECT_EQ(outOfRange.refusal, "rack1: output '9' is not 0-3");

    // Too large is refused unread, even if it would read as a command.
    const std::string largest = "ON" + std::string(snmqtt::kLargestCommandPayload - 2, ' ');
    EXPECT_TRUE(parseMqttCommand(topic(CommandKind::Power), largest).command);
    const auto tooLarge = parseMqttCommand(topic(CommandKind::Power), largest + " ");
    EXPECT_FALSE(tooLarge.command);
    EXPECT_EQ(tooLarge.kind, RefusalKind::TooLarge);
    EXPECT_EQ(tooLarge.refusal, "rack1/power/0/set: payload of 257 bytes is over 256");

    // A port's bytes are never taken as a command.
    const auto tx = parseMqttCommand(topic(CommandKind::PortTx, 1), "ON");
    EXPECT_FALSE(tx.command);
    EXPECT_EQ(tx.kind, RefusalKind::NotACommand);
}

TEST(CommandPayload, AnEchoedPayloadIsOneShortPrintableLine) {
    const std::string payload = std::string("\x01O'N\\\n\xff") + std::string(100, 'A');
    const auto parsed = parseMqttCommand(topic(CommandKind::Power, 1), payload);
    EXPECT_EQ(parsed.refusal.rfind("rack1/power/1/set: payload '\\x01O'N\\x5c\\x0a\\xffAAA", 0), 0u)
        << parsed.refusal;
    EXPECT_LT(parsed.refusal.size(), 120u);
    for (const char c : parsed.refusal) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << parsed.refusal;
    // So do the node's name and the topic's index.
    const auto index = snmqtt::Topics("snlib").parseCommand("snlib/n/power/\x01\x7f/set");
    ASSERT_TRUE(index);
    EXPECT_EQ(parseMqttCommand(*index, "ON").refusal, "n: output '\\x01\\x7f' is not 0-3");
    const auto named = parseMqttCommand({"a\nb", CommandKind::Blink, 0, ""}, "9");
    EXPECT_EQ(named.refusal.rfind("a\\x0ab/blink/set: ", 0), 0u) << named.refusal;
    // An escape is never cut in half.
    EXPECT_EQ(snmqtt::printableExcerpt("ab\x01", 5), "ab...");
    EXPECT_EQ(snmqtt::printableExcerpt("ab\x01", 6), "ab\\x01");
}

TEST(CommandPayload, PortBytesAreCheckedForTheirPortAndSizeOnly) {
    const auto tx = topic(CommandKind::PortTx, 1);
    EXPECT_EQ(snmqtt::checkPortTx(tx, "").kind, RefusalKind::None);
    EXPECT_EQ(snmqtt::checkPortTx(tx, std::string(snmqtt::kLargestPortTxPayload, '\0')).kind,
              RefusalKind::None);
    const auto large = snmqtt::checkPortTx(tx, std::string(snmqtt::kLargestPortTxPayload + 1, 'x'));
    EXPECT_EQ(large.kind, RefusalKind::TooLarge);
    EXPECT_EQ(large.refusal, "rack1/port/1/tx: payload of 65537 bytes is over 65536");
    EXPECT_EQ(
        snmqtt::checkPortTx({"rack1", CommandKind::PortTx, 3, "port '3' is not 0-2"}, "x").kind,
        RefusalKind::OutOfRange);
    EXPECT_EQ(snmqtt::checkPortTx(topic(CommandKind::Power), "ON").kind, RefusalKind::BadPayload);
}

}  // namespace

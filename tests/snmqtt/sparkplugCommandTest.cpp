// A Sparkplug host's commands read from their bytes: an output switched by
// its metric's name or alias, anything else refused whole with the reason,
// and nothing taken from bytes that are no payload.
#include <gtest/gtest.h>

#include <string>

#include "sparkplugCommand.h"
#include "sparkplugMetrics.h"
#include "sparkplugPayload.pb.h"

namespace {

using snmqtt::parseDeviceCommand;
using snmqtt::parseNodeCommand;
using Metric = snmqtt::spb::Payload::Metric;

constexpr uint32_t kBoolean = 11;

struct Command {
    snmqtt::spb::Payload payload;

    Command() { payload.set_timestamp(1700000000000); }
    Metric& add() { return *payload.add_metrics(); }
    Command& named(const std::string& name, bool value) {
        Metric& m = add();
        m.set_name(name);
        m.set_datatype(kBoolean);
        m.set_boolean_value(value);
        return *this;
    }
    Command& aliased(uint64_t alias, bool value) {
        Metric& m = add();
        m.set_alias(alias);
        m.set_boolean_value(value);  // a datatype is not needed by alias
        return *this;
    }
    std::string bytes() const { return payload.SerializeAsString(); }
};

TEST(SparkplugDeviceCommand, OutputsAreSwitchedByNameOrByTheDevicesOwnAlias) {
    const std::size_t device = 2;
    Command c;
    c.named("Power/3", true).aliased(snmqtt::deviceMetricAlias(device, 1), false);
    Metric& both = c.add();
    both.set_name("Power/0");
    both.set_alias(snmqtt::deviceMetricAlias(device, 0));
    both.set_boolean_value(true);
    const snmqtt::DeviceCommand parsed = parseDeviceCommand(c.bytes(), device);
    ASSERT_EQ(parsed.refusal, "");
    ASSERT_EQ(parsed.writes.size(), 3u);
    EXPECT_EQ(parsed.writes[0].output, 3);
    EXPECT_TRUE(parsed.writes[0].on);
    EXPECT_EQ(parsed.writes[1].output, 1);
    EXPECT_FALSE(parsed.writes[1].on);
    EXPECT_EQ(parsed.writes[2].output, 0);
}

TEST(SparkplugDeviceCommand, OneMetricThatCannotBeWrittenRefusesTheWholeCommand) {
    struct Case {
        const char* what;
        std::function<void(Command&)> add;
        const char* refusal;
    };
    const std::vector<Case> cases = {
        {"a reading", [](Command& c) { c.named("Analog/0", true); }, "Analog/0 cannot be written"},
        {"a property", [](Command& c) { c.aliased(snmqtt::deviceMetricAlias(0, 12), true); },
         "Properties/Serial Number cannot be written"},
        {"another device's alias",
         [](Command& c) { c.aliased(snmqtt::deviceMetricAlias(1, 2), true); },
         "alias 514: no such metric"},
        {"the edge node's own metric", [](Command& c) { c.named("Node Control/Rebirth", true); },
         "'Node Control/Rebirth': no such metric"},
        {"name and alias apart",
         [](Command& c) {
             Metric& m = c.add();
             m.set_name("Power/1");
             m.set_alias(snmqtt::deviceMetricAlias(0, 2));
             m.set_boolean_value(true);
         },
         "'Power/1' and alias 258 name different metrics"},
        {"a number for a Boolean",
         [](Command& c) {
             Metric& m = c.add();
             m.set_name("Power/1");
             m.set_datatype(6);
             m.set_int_value(1);
         },
         "'Power/1' needs a Boolean value"},
        {"a Boolean value under another datatype",
         [](Command& c) {
             Metric& m = c.add();
             m.set_name("Power/1");
             m.set_datatype(6);
             m.set_boolean_value(true);
         },
         "'Power/1' needs a Boolean value"},
        {"a null",
         [](Command& c) {
             Metric& m = c.add();
             m.set_name("Power/1");
             m.set_is_null(true);
         },
         "'Power/1' needs a Boolean value"},
        {"no name nor alias", [](Command& c) { c.add().set_boolean_value(true); },
         "a metric with neither name nor alias: no such metric"},
        {"an unprintable name", [](Command& c) { c.named(std::string("Power/1\n\x01", 9), true); },
         "'Power/1\\x0a\\x01': no such metric"},
    };
    for (const Case& k : cases) {
        Command c;
        c.named("Power/0", true);  // a good write first: it is not done either
        k.add(c);
        const snmqtt::DeviceCommand parsed = parseDeviceCommand(c.bytes(), 0);
        EXPECT_EQ(parsed.refusal, k.refusal) << k.what;
        EXPECT_TRUE(parsed.writes.empty()) << k.what;
    }
}

TEST(SparkplugDeviceCommand, BytesThatAreNoUsablePayloadAreRefused) {
    EXPECT_EQ(parseDeviceCommand("\xff\xff\xff", 0).refusal, "not a Sparkplug B payload");
    EXPECT_EQ(parseDeviceCommand("", 0).refusal, "no metric in it");
    Command many;
    for (std::size_t i = 0; i <= snmqtt::kMostCommandMetrics; ++i) many.named("Power/0", true);
    EXPECT_EQ(parseDeviceCommand(many.bytes(), 0).refusal, "33 metrics in it, more than 32");
    many.payload.mutable_metrics()->RemoveLast();
    EXPECT_EQ(parseDeviceCommand(many.bytes(), 0).writes.size(), snmqtt::kMostCommandMetrics);
    Command huge;
    huge.named(std::string(snmqtt::kLongestCommand, 'x'), true);
    EXPECT_EQ(parseDeviceCommand(huge.bytes(), 0).refusal, "65555 bytes, more than 65536");
}

TEST(SparkplugNodeCommand, RebirthTrueAsksForTheBirthsFalseForNothingAndTheRestIsRefused) {
    Command yes;
    yes.named("Node Control/Rebirth", true);
    EXPECT_TRUE(parseNodeCommand(yes.bytes()).rebirth);
    Command byAlias;
    byAlias.aliased(snmqtt::kRebirthAlias, true);
    EXPECT_TRUE(parseNodeCommand(byAlias.bytes()).rebirth);

    Command no;
    no.named("Node Control/Rebirth", false);
    EXPECT_FALSE(parseNodeCommand(no.bytes()).rebirth);
    EXPECT_EQ(parseNodeCommand(no.bytes()).refusal, "");

    Command bdSeq;
    bdSeq.named("Node Control/Rebirth", true).aliased(snmqtt::kBdSeqAlias, true);
    EXPECT_FALSE(parseNodeCommand(bdSeq.bytes()).rebirth);
    EXPECT_EQ(parseNodeCommand(bdSeq.bytes()).refusal, "alias 1 cannot be written");
    Command device;
    device.named("Power/0", true);
    EXPECT_EQ(parseNodeCommand(device.bytes()).refusal, "'Power/0' cannot be written");
    EXPECT_EQ(parseNodeCommand("\x0a").refusal, "not a Sparkplug B payload");
}

}  // namespace

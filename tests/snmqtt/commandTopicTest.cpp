// Which topics under a bridge's base are commands, and for what.
#include <gtest/gtest.h>

#include "topics.h"

namespace {

using snmqtt::CommandKind;
using snmqtt::Topics;

TEST(CommandTopic, EveryCommandTopicBuiltParsesBackToItsKindNodeAndIndex) {
    const Topics topics("site/snlib");
    struct Case {
        std::string topic;
        CommandKind kind;
        int index;
    };
    const Case cases[] = {
        {topics.powerSet("rack-1", 3), CommandKind::Power, 3},
        {topics.blinkSet("rack-1"), CommandKind::Blink, 0},
        {topics.dcAlwaysOnSet("rack-1"), CommandKind::DcAlwaysOn, 0},
        {topics.analogParmsSet("rack-1", 7), CommandKind::AnalogParms, 7},
        {topics.portTx("rack-1", 2), CommandKind::PortTx, 2},
        {topics.portLineSet("rack-1", 0), CommandKind::PortLine, 0},
    };
    for (const Case& c : cases) {
        const auto parsed = topics.parseCommand(c.topic);
        ASSERT_TRUE(parsed) << c.topic;
        EXPECT_EQ(parsed->node, "rack-1") << c.topic;
        EXPECT_EQ(parsed->kind, c.kind) << c.topic;
        EXPECT_EQ(parsed->index, c.index) << c.topic;
        EXPECT_EQ(parsed->refusal, "") << c.topic;
    }
    EXPECT_EQ(topics.powerSet("n", 1), "site/snlib/n/power/1/set");
}

TEST(CommandTopic, AnIndexBeyondTheNodeIsACommandWithARefusalNamingIt) {
    const Topics topics("snlib");
    const std::pair<const char*, const char*> cases[] = {
        {"snlib/n/power/4/set", "output '4' is not 0-3"},
        {"snlib/n/power/-1/set", "output '-1' is not 0-3"},
        {"snlib/n/power/x/set", "output 'x' is not 0-3"},
        {"snlib/n/power//set", "output '' is not 0-3"},
        {"snlib/n/power/1000/set", "output '1000' is not 0-3"},
        {"snlib/n/analog/8/parms/set", "channel '8' is not 0-7"},
        {"snlib/n/port/3/tx", "port '3' is not 0-2"},
        {"snlib/n/port/3/line/set", "port '3' is not 0-2"},
    };
    for (const auto& [topic, refusal] : cases) {
        const auto parsed = topics.parseCommand(topic);
        ASSERT_TRUE(parsed) << topic;
        EXPECT_EQ(parsed->refusal, refusal) << topic;
    }
}

TEST(CommandTopic, StateTopicsTheBridgeOwnAndOtherShapesAreNoCommands) {
    const Topics topics("snlib");
    for (const char* topic :
         {"snlib/n/power/1", "snlib/n/analog/1/parms", "snlib/n/port/1/rx", "snlib/n/port/1/line",
          "snlib/n/dc", "snlib/n/blink", "snlib/n/power/1/set/more", "snlib/n/analog/1/set",
          "snlib/bridge/power/1/set", "snlib/bridge/blink/set", "snlib/n", "snlib/", "snlib", ""})
        EXPECT_FALSE(topics.parseCommand(topic)) << topic;
}

TEST(CommandTopic, OnlyTopicsUnderItsOwnBaseAreCommands) {
    const Topics topics("site/snlib");
    for (const char* topic : {"snlib/n/blink/set", "site/n/blink/set", "site/snlib2/n/blink/set",
                              "other/site/snlib/n/blink/set", "site/snlibn/blink/set"})
        EXPECT_FALSE(topics.parseCommand(topic)) << topic;
    // One level more of base is taken as the node's name, and then the rest
    // is no command's shape.
    EXPECT_FALSE(Topics("site").parseCommand("site/snlib/n/blink/set"));
    EXPECT_TRUE(Topics("site").parseCommand("site/snlib/blink/set"));
}

}  // namespace

// --channel and --deadband: what each node's channels show, and what a
// mistyped option tells its user.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "channelSettings.h"

namespace {

using snmqtt::ChannelSettings;

TEST(ChannelSettings, ANodesOwnLookWinsOverOneForEveryNodeAndNoneIsTheDefault) {
    ChannelSettings settings;
    settings.addChannel("rack1/0:Supply voltage:V:0.001");
    settings.addChannel("0:Supply:mV");
    settings.addChannel(
        "2:Temperature:\xc2\xb0"
        "C:0.1:-40");
    settings.addChannel("rack1/3:Flow:l/min::");

    auto look = settings.look("rack1", 0);
    EXPECT_EQ(look.label, "Supply voltage");
    EXPECT_EQ(look.unit, "V");
    EXPECT_DOUBLE_EQ(look.scale, 0.001);
    EXPECT_DOUBLE_EQ(look.offset, 0);
    look = settings.look("rack2", 0);
    EXPECT_EQ(look.label, "Supply");
    EXPECT_EQ(look.unit, "mV");
    EXPECT_DOUBLE_EQ(look.scale, 1);
    look = settings.look("rack2", 2);
    EXPECT_EQ(look.unit,
              "\xc2\xb0"
              "C");
    EXPECT_DOUBLE_EQ(look.offset, -40);
    EXPECT_EQ(settings.look("rack1", 3).unit, "l/min");
    EXPECT_EQ(settings.look("rack2", 3).label, "Analog 3");
    EXPECT_EQ(settings.look("rack2", 3).unit, "");
    EXPECT_DOUBLE_EQ(settings.look("rack2", 7).scale, 1);
}

TEST(ChannelSettings, DeadbandsGoFromTheNodesChannelToEveryNodesAnyChannel) {
    ChannelSettings settings;
    EXPECT_EQ(settings.deadband("rack1", 3), 0u);
    settings.addDeadband("*=5");
    settings.addDeadband("3=7");
    settings.addDeadband("rack1/*=9");
    settings.addDeadband("rack1/3=65535");
    EXPECT_EQ(settings.deadband("rack1", 3), 65535u);
    EXPECT_EQ(settings.deadband("rack1", 0), 9u);
    EXPECT_EQ(settings.deadband("rack2", 3), 7u);
    EXPECT_EQ(settings.deadband("rack2", 0), 5u);
}

void expectRefused(void (ChannelSettings::*add)(std::string_view), const std::string& option,
                   const char* why) {
    ChannelSettings settings;
    try {
        (settings.*add)(option);
        ADD_FAILURE() << option << " was taken";
    } catch (const std::invalid_argument& error) {
        const std::string what = error.what();
        EXPECT_EQ(what.rfind("--", 0), 0u) << what;
        EXPECT_NE(what.find(why), std::string::npos) << option << ": " << what;
    }
}

TEST(ChannelSettings, AMistypedOptionIsRefusedWithWhatIsWrong) {
    const auto channel = &ChannelSettings::addChannel;
    expectRefused(channel, "", "takes [NAME/]C:LABEL");
    expectRefused(channel, "0", "takes [NAME/]C:LABEL");
    expectRefused(channel, "0:a:V:1:0:x", "takes [NAME/]C:LABEL");
    expectRefused(channel, "8:Label", "channel is 0-7");
    expectRefused(channel, "*:Label", "channel is 0-7");
    expectRefused(channel, "rack 1/0:Label", "NAME is");
    expectRefused(channel, "/0:Label", "NAME is");
    expectRefused(channel, "0:", "LABEL is");
    expectRefused(channel, "0:" + std::string(65, 'x'), "LABEL is");
    expectRefused(channel, "0:Bad \xff label", "LABEL is");
    expectRefused(channel, "0:Bad \xed\xa0\x80 surrogate", "LABEL is");
    expectRefused(channel, "0:Tab\there", "LABEL is");
    expectRefused(channel, "0:a:" + std::string(17, 'u'), "UNIT is");
    for (const char* scale : {"0:a:V:0", "0:a:V:x", "0:a:V:1e999", "0:a:V:nan", "0:a:V:1x"})
        expectRefused(channel, scale, "SCALE is");
    expectRefused(channel, "0:a:V:1:inf", "OFFSET is");

    const auto deadband = &ChannelSettings::addDeadband;
    expectRefused(deadband, "3", "takes [NAME/]C=COUNTS");
    expectRefused(deadband, "3=-1", "COUNTS is 0-65535");
    expectRefused(deadband, "3=65536", "COUNTS is 0-65535");
    expectRefused(deadband, "3=", "COUNTS is 0-65535");
    expectRefused(deadband, "9=1", "channel is 0-7 or '*'");
    expectRefused(deadband, "a/b/0=1", "channel is 0-7 or '*'");
}

TEST(ChannelSettings, TheSameChannelTwiceIsRefusedNotSilentlyReplaced) {
    ChannelSettings settings;
    settings.addChannel("0:First");
    settings.addChannel("rack1/0:Own");  // another scope: no clash
    EXPECT_THROW(settings.addChannel("0:Second"), std::invalid_argument);
    EXPECT_EQ(settings.look("rack2", 0).label, "First");
    settings.addDeadband("rack1/*=1");
    EXPECT_THROW(settings.addDeadband("rack1/*=2"), std::invalid_argument);
    EXPECT_EQ(settings.deadband("rack1", 5), 1u);
}

}  // namespace

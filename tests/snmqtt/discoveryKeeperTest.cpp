// Home Assistant's view kept true across restarts of the bridge: configs
// out once a node's identity is known, a node no longer bridged taken back
// (configs and state), a swapped unit's old entities removed, and refusals
// said once per kind in the program's log but every time on the broker.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "channelSettings.h"
#include "commandDesk.h"
#include "discoveryKeeper.h"
#include "recordingOutbox.h"

namespace {

using snmqtt::KnownNode;
using sntest::Recorder;

struct Keeper : ::testing::Test {
    snmqtt::Topics topics{"snlib"};
    snmqtt::ChannelSettings channels;
    snmqtt::DiscoveryKeeper keeper{topics, "homeassistant", "snmqtt_box", true, false, channels};
    Recorder out;

    std::map<std::string, KnownNode> nodes(std::initializer_list<KnownNode> list) {
        std::map<std::string, KnownNode> m;
        for (const KnownNode& n : list) m[n.name] = n;
        return m;
    }
    bool cleared(const std::string& topic) {
        const auto found = out.last.find(topic);
        return found != out.last.end() && found->second.empty();
    }
};

TEST_F(Keeper, ConfigsGoOutOnceTheIdentityIsKnownAndTheListWaitsForTheOldOne) {
    keeper.connected(100);
    keeper.update(nodes({{"a", false, 0, 0}}), out, 100);
    EXPECT_FALSE(out.last.count("homeassistant/switch/snlib_7/power_0/config"));
    keeper.update(nodes({{"a", true, 7, 0x203}}), out, 100.5);
    EXPECT_FALSE(out.last["homeassistant/switch/snlib_7/power_0/config"].empty());
    EXPECT_FALSE(out.last["homeassistant/sensor/snlib_7/analog_7/config"].empty());
    // Until the broker told what was bridged before, that list is not replaced.
    EXPECT_FALSE(out.last.count("snlib/bridge/nodes"));
    keeper.previousNodes("{}");
    keeper.update(nodes({{"a", true, 7, 0x203}}), out, 101);
    EXPECT_EQ(out.last["snlib/bridge/nodes"], R"({"a":7})");
}

TEST_F(Keeper, ANodeGoneFromTheTargetsIsTakenBackAndASwappedUnitsOldEntitiesToo) {
    keeper.connected(100);
    keeper.previousNodes(R"({"gone":5,"a":6,"b":9,"bad":"x"})");
    keeper.update(nodes({{"a", true, 7, 1}, {"b", false, 0, 0}}), out, 100);
    EXPECT_TRUE(cleared("homeassistant/switch/snlib_5/power_3/config"));
    EXPECT_TRUE(cleared("snlib/gone/availability"));
    EXPECT_TRUE(cleared("snlib/gone/analog/4"));
    EXPECT_TRUE(cleared("homeassistant/sensor/snlib_6/analog_0/config"));  // a's old unit
    EXPECT_FALSE(cleared("snlib/a/availability"));                         // a itself stays
    EXPECT_FALSE(cleared("homeassistant/switch/snlib_9/power_0/config"));  // b not known yet
    EXPECT_EQ(out.last["snlib/bridge/nodes"], R"({"a":7,"b":9})");
}

TEST_F(Keeper, WithoutAListFromTheBrokerItsOwnGoesOutAfterAWhileAndARestartedHomeAssistantGetsAll) {
    keeper.connected(100);
    keeper.update(nodes({{"a", true, 7, 1}}), out, 101);
    EXPECT_FALSE(out.last.count("snlib/bridge/nodes"));
    keeper.update(nodes({{"a", true, 7, 1}}), out, 103);
    EXPECT_EQ(out.last["snlib/bridge/nodes"], R"({"a":7})");
    out.sent.clear();
    keeper.update(nodes({{"a", true, 7, 1}}), out, 104);
    EXPECT_TRUE(out.sent.empty());
    keeper.homeAssistantOnline();
    keeper.update(nodes({{"a", true, 7, 1}}), out, 105);
    EXPECT_EQ(out.sent.size(),
              1u + 4 + 8 + 4);  // the bridge's, then the node's (switch and sensor variants)
}

TEST_F(Keeper, TwoNodesWithOneSerialNumberShowAsOneNotAsAMixOfBoth) {
    keeper.connected(100);
    keeper.update(nodes({{"a", true, 0, 1}, {"b", true, 0, 1}}), out, 100);
    EXPECT_NE(out.last["homeassistant/switch/snlib_0/power_0/config"].find("\"snlib/a/power/0\""),
              std::string::npos);
}

TEST(CommandDeskTest, ARefusalIsLoggedOncePerKindPublishedEachTimeAndAnsweredToItsRequester) {
    snmqtt::Topics topics{"snlib"};
    Recorder out;
    snmqtt::CommandDesk desk(topics, out, "snmqtt");
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) desk.refuse("bad payload", "a/power/1/set: payload 'x'", {}, 100);
    desk.refuse("unknown node", "zz/power/1/set: no node", {}, 100);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    EXPECT_EQ(std::count(out.sent.begin(), out.sent.end(), "snlib/bridge/log"), 4);
    // A flood of them is cut to a few a second, and the cut is told.
    for (int i = 0; i < 100; ++i) desk.refuse("bad payload", "a/power/1/set", {}, 100);
    EXPECT_LT(std::count(out.sent.begin(), out.sent.end(), "snlib/bridge/log"), 20);
    desk.flush(102);
    EXPECT_NE(out.last["snlib/bridge/log"].find("were not published"), std::string::npos);
}

}  // namespace

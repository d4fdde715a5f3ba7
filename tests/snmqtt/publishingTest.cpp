// What the bridge publishes and when: a value on change beyond its
// deadband and again at its max-age, a bus's cap that delays readings but
// never loses the latest, outputs ahead of readings, and the command line.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mqttOptions.h"
#include "nodeStatePublisher.h"
#include "outbox.h"
#include "publishPolicy.h"
#include "recordingOutbox.h"

namespace {

using snmqtt::PublishBudget;
using sntest::Recorder;

snpoll::NodeStatus answering(double now) {
    snpoll::NodeStatus s;
    s.up = true;
    s.lastAnswer = now;
    s.outputsKnown = true;
    s.outputs = {true, false, false, true};
    for (std::size_t c = 0; c < s.analog.size(); ++c) s.analog[c] = static_cast<uint16_t>(100 * c);
    return s;
}

struct NodeState : ::testing::Test {
    NodeState() { channels.addDeadband("a/3=5"); }
    snmqtt::Topics topics{"lab/rack"};
    snmqtt::ChannelSettings channels;
    snmqtt::NodeStatePublisher state{topics, "a", channels, 1.0, 60.0};
    Recorder out;
    PublishBudget budget{1000};
};

TEST_F(NodeState, ChangesBeyondTheDeadbandAndAgedValuesArePublishedOthersNot) {
    snpoll::NodeStatus s = answering(1000);
    state.publish(s, 1000, out, budget);
    EXPECT_EQ(out.last["lab/rack/a/availability"], "online");
    EXPECT_EQ(out.last["lab/rack/a/power/0"], "ON");
    EXPECT_EQ(out.last["lab/rack/a/power/1"], "OFF");
    EXPECT_EQ(out.last["lab/rack/a/analog/7"], "700");
    EXPECT_EQ(out.sent.size(), 1u + 4 + 8);
    EXPECT_TRUE(out.retained);

    out.sent.clear();
    s.lastAnswer = 1001;
    s.analog[3] = 305;  // within channel 3's deadband of 5
    s.analog[4] = 401;  // channel 4 has none
    state.publish(s, 1001, out, budget);
    EXPECT_EQ(out.sent, std::vector<std::string>{"lab/rack/a/analog/4"});

    out.sent.clear();
    s.analog[3] = 306;
    state.publish(s, 1002, out, budget);
    EXPECT_EQ(out.sent, std::vector<std::string>{"lab/rack/a/analog/3"});

    out.sent.clear();
    s.lastAnswer = 1062;
    state.publish(s, 1062, out, budget);  // nothing changed, all of it aged
    EXPECT_EQ(out.sent.size(), 1u + 4 + 8);
}

TEST_F(NodeState, ANodeSilentForThreeIntervalsGoesOfflineAndItsValuesRest) {
    snpoll::NodeStatus s = answering(1000);
    state.publish(s, 1000, out, budget);
    s.up = false;  // one missed poll is no outage
    state.publish(s, 1002.5, out, budget);
    EXPECT_EQ(out.last["lab/rack/a/availability"], "online");
    out.sent.clear();
    s.analog[0] = 9;
    state.publish(s, 1003.5, out, budget);
    EXPECT_EQ(out.sent, std::vector<std::string>{"lab/rack/a/availability"});
    EXPECT_EQ(out.last["lab/rack/a/availability"], "offline");
    EXPECT_EQ(out.last["lab/rack/a/analog/0"], "0");  // the last value read stands
    s = answering(1004);
    state.publish(s, 1004, out, budget);
    EXPECT_EQ(out.last["lab/rack/a/availability"], "online");
}

TEST_F(NodeState, ANodeNotHeardYetIsNotCalledOfflineBeforeItsTimeIsUp) {
    snpoll::NodeStatus never;
    state.publish(never, 1000, out, budget);
    state.publish(never, 1002.9, out, budget);
    EXPECT_TRUE(out.sent.empty());
    state.publish(never, 1003.1, out, budget);
    EXPECT_EQ(out.last["lab/rack/a/availability"], "offline");
}

TEST_F(NodeState, ATightBudgetDelaysReadingsButLosesNoneAndOutputsGoFirst) {
    PublishBudget tight(2);  // two at once, then two a second
    snpoll::NodeStatus s = answering(1000);
    state.publish(s, 1000, out, tight);
    EXPECT_EQ(out.sent,
              (std::vector<std::string>{"lab/rack/a/availability", "lab/rack/a/power/0"}));
    for (double t = 1000.5; t < 1008; t += 0.5) {
        s.lastAnswer = t;
        state.publish(s, t, out, tight);
    }
    EXPECT_EQ(out.sent.size(), 1u + 4 + 8);
    EXPECT_EQ(out.last["lab/rack/a/analog/7"], "700");

    out.sent.clear();
    s.outputs[1] = true;
    s.analog[0] = 1;
    s.lastAnswer = 1010;
    state.publish(s, 1010, out, tight);
    ASSERT_FALSE(out.sent.empty());
    EXPECT_EQ(out.sent.front(), "lab/rack/a/power/1");
}

TEST_F(NodeState, ACommandsOutcomeIsPublishedEvenWhenNothingChangedAndAfterAReconnect) {
    snpoll::NodeStatus s = answering(1000);
    state.publish(s, 1000, out, budget);
    out.sent.clear();
    state.republishOutputs();
    state.publish(s, 1000.2, out, budget);
    EXPECT_EQ(out.sent.size(), 4u);
    out.sent.clear();
    state.forget();
    state.publish(s, 1000.4, out, budget);
    EXPECT_EQ(out.sent.size(), 1u + 4 + 8);
}

TEST(PublishBudgetTest, RefillsAtItsRateUpToASecondsWorth) {
    PublishBudget budget(10);
    int taken = 0;
    while (budget.take(5.0)) ++taken;
    EXPECT_EQ(taken, 10);
    EXPECT_FALSE(budget.take(5.05));
    EXPECT_TRUE(budget.take(5.15));
    taken = 0;
    while (budget.take(100)) ++taken;
    EXPECT_EQ(taken, 10);
}

snmqtt::MqttOptions parse(std::vector<std::string> args) { return snmqtt::parseMqttOptions(args); }

TEST(MqttOptionsTest, ACommandLineIsTakenWholeOrRefusedWithTheReason) {
    const auto o = parse({"--broker", "mqtt://broker.lan", "--target", "a=/dev/ttyUSB0",
                          "--target=b=tcp:127.0.0.1:1502,slave=2", "--interval", "0.5", "--port",
                          "a/*", "--base-topic", "site/hall"});
    EXPECT_EQ(o.broker.host, "broker.lan");
    EXPECT_EQ(o.broker.port, 1883);
    ASSERT_EQ(o.targets.size(), 2u);
    EXPECT_EQ(o.targets[1].slave, 2);
    EXPECT_DOUBLE_EQ(o.interval, 0.5);
    EXPECT_EQ(o.ports.size(), 3u);
    EXPECT_EQ(o.baseTopic, "site/hall");
    EXPECT_FALSE(o.clientId.empty());

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--target", "a=/dev/x"}, "--broker"},
        {{"--broker", "mqtt://h"}, "--target"},
        {{"--broker", "http://h", "--target", "a=/dev/x"}, "--broker"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--password", "pw"}, "--password-file"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--interval", "0"}, "--interval"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--port", "b/0"}, "no target 'b'"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--port", "a/3"}, "--port"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--port", "a/0", "--read-only"},
         "--read-only"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--base-topic", "x/#"}, "--base-topic"},
        {{"--broker", "mqtt://h", "--target", "bridge=/dev/x"}, "bridge"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--cafile", "ca.pem"}, "mqtts://"},
        {{"--broker", "mqtt://h", "--target", "a=/dev/x", "--password-file", "f"}, "--username"},
    };
    for (const auto& [args, reason] : refused) {
        try {
            parse(args);
            ADD_FAILURE() << "taken: " << args.back();
        } catch (const snmqtt::OptionError& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
    }
}

}  // namespace

// The bridge's loop against an emulated node, its pollers on their own
// threads: a command confirmed by what was read back, a port's bytes out
// once and in order, a node that goes silent marked offline and back.
// Run under the thread sanitizer too.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "mqttBridge.h"
#include "mqttOptions.h"
#include "nodeHub.h"
#include "recordingOutbox.h"
#include "simProcess.h"

namespace {

using namespace std::chrono_literals;

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct BridgeOnNode : ::testing::Test {
    void SetUp() override {
        link = ::testing::TempDir() + "snmqtt-node-" + std::to_string(getpid());
        ASSERT_TRUE(sim.start(SNSIM_PATH, {"--link", link}, 10s));
    }
    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--broker",  "mqtt://127.0.0.1", "--target",
                                         "a=" + link, "--interval",       "0.2"};
        args.insert(args.end(), extra.begin(), extra.end());
        options = snmqtt::parseMqttOptions(args);
        hub = std::make_unique<snmqtt::NodeHub>(options.targets, options.interval, [] {});
        bridge = std::make_unique<snmqtt::MqttBridge>(options, *hub, out);
        bridge->connected(wallSeconds());
    }
    // Ticks the loop until `done` holds, for `most` at most.
    bool loopUntil(const std::function<bool()>& done, std::chrono::milliseconds most = 10s) {
        for (const auto end = std::chrono::steady_clock::now() + most;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms)) {
            bridge->tick(wallSeconds());
            if (done()) return true;
        }
        return false;
    }
    void TearDown() override {
        bridge.reset();
        hub.reset();
    }

    std::string link;
    sntest::SimProcess sim;
    snmqtt::MqttOptions options;
    sntest::Recorder out;
    std::unique_ptr<snmqtt::NodeHub> hub;
    std::unique_ptr<snmqtt::MqttBridge> bridge;
};

TEST_F(BridgeOnNode, ACommandIsConfirmedByTheStateReadBackAndAnsweredToItsRequester) {
    start();
    ASSERT_TRUE(loopUntil([&] { return out.last["snlib/a/power/2"] == "OFF"; }));
    EXPECT_EQ(out.last["snlib/a/availability"], "online");
    bridge->message({"snlib/a/power/2/set", "on", snmqtt::ReplyTo{"re/q", "c1"}}, wallSeconds());
    ASSERT_TRUE(loopUntil([&] { return !out.replies.empty(); }));
    EXPECT_EQ(out.replies.front(), "re/q c1 a: power 2 on: done");
    EXPECT_EQ(out.last["snlib/a/power/2"], "ON");  // published with the answer, not a poll later

    bridge->message({"snlib/a/power/2/set", "TOGGLE", snmqtt::ReplyTo{"re/q", "c2"}},
                    wallSeconds());
    ASSERT_TRUE(loopUntil([&] { return out.replies.size() == 2; }));
    EXPECT_EQ(out.last["snlib/a/power/2"], "OFF");

    // Refused before the node: a retained command would come back at every connect.
    snmqtt::Inbound retained{"snlib/a/power/1/set", "ON", snmqtt::ReplyTo{"re/q", "c3"}, true};
    bridge->message(retained, wallSeconds());
    ASSERT_EQ(out.replies.size(), 3u);
    EXPECT_NE(out.replies.back().find("retained"), std::string::npos);
    loopUntil([&] { return false; }, 1s);  // a few polls: output 1 stays off
    EXPECT_EQ(out.last["snlib/a/power/1"], "OFF");
}

TEST_F(BridgeOnNode, APortsBytesComeBackOnceAndInOrder) {
    start({"--port", "a/0"});
    ASSERT_TRUE(loopUntil([&] { return out.last["snlib/a/availability"] == "online"; }));
    std::string sent;
    for (int i = 0; i < 40; ++i) {
        const std::string line = "line " + std::to_string(i) + " through the port\n";
        bridge->message({"snlib/a/port/0/tx", line, std::nullopt}, wallSeconds());
        sent += line;
    }
    ASSERT_TRUE(loopUntil([&] { return out.received.size() >= sent.size(); })) << out.received;
    EXPECT_EQ(out.received, sent);
}

TEST_F(BridgeOnNode, ANodeSilentForThreeIntervalsIsOfflineAndOnlineAgainByItself) {
    start();
    ASSERT_TRUE(loopUntil([&] { return out.last["snlib/a/availability"] == "online"; }));
    ASSERT_TRUE(sim.stop(5s));
    ASSERT_TRUE(loopUntil([&] { return out.last["snlib/a/availability"] == "offline"; }));
    ASSERT_TRUE(sim.start(SNSIM_PATH, {"--link", link}, 10s));
    EXPECT_TRUE(loopUntil([&] { return out.last["snlib/a/availability"] == "online"; }));
}

}  // namespace

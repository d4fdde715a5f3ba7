// snctl bridge when its device goes away and comes back, as a USB adapter
// pulled out and plugged in again: snsim stopped (its link and the pty
// behind it removed) and started again on the same link.  The bridge says
// so in one line, keeps its pseudo-terminal or its network client, and
// relays again by itself.
#include "capturedProcess.h"
#include "rawHttpClient.h"
#include "serialClient.h"
#include "simProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class DeviceReturnTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/snctl-return-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir = dirTemplate;
        ASSERT_TRUE(plugIn());
    }
    void TearDown() override {
        bridge.signal(SIGKILL);
        std::filesystem::remove_all(dir);
    }

    // The node on the same path each time, its port 1 a loopback.
    bool plugIn() {
        return sim.start(SNSIM_PATH, {"--link", device(), "--port1", "loopback"}, 10s);
    }
    void unplug() { ASSERT_TRUE(sim.stop(5s)); }
    std::string device() const { return dir + "/node"; }

    void startBridge(const std::vector<std::string>& extra, const std::string& ready) {
        std::vector<std::string> argv{SNCTL_PATH, "-p", device(), "bridge", "1", "-b", "38400"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(bridge.start(argv));
        ASSERT_TRUE(
            waitUntil([&] { return bridge.outputSoFar().find(ready) != std::string::npos; }, 10s))
            << bridge.errorsSoFar();
    }

    // Goes, and is said to be gone in one line and no more while it stays
    // away (a few tries of the missing device); comes back and is said to be
    // back.  `stillServed` checks the bridge's own side meanwhile.
    void unplugAndReplug(const std::function<void()>& stillServed) {
        const std::string before = bridge.errorsSoFar();
        unplug();
        const std::string gone =
            "snctl: bridge: " + device() + " is gone; waiting for it to come back\n";
        ASSERT_TRUE(waitUntil([&] { return bridge.errorsSoFar() == before + gone; }, 10s))
            << bridge.errorsSoFar();
        std::this_thread::sleep_for(2500ms);
        EXPECT_TRUE(bridge.running());
        EXPECT_EQ(bridge.errorsSoFar(), before + gone) << "one line, and nothing more";
        stillServed();
        ASSERT_TRUE(plugIn());
        ASSERT_TRUE(waitUntil(
            [&] { return bridge.errorsSoFar().find(device() + " is back") != std::string::npos; },
            10s))
            << bridge.errorsSoFar();
    }

    void expectCleanStop() {
        bridge.signal(SIGTERM);
        const sntest::RunResult end = bridge.wait(10s);
        EXPECT_EQ(end.status, 0) << end.err;
    }

    std::string dir;
    sntest::SimProcess sim;
    sntest::CapturedProcess bridge;
};

TEST_F(DeviceReturnTest, ThePtyBridgeKeepsItsLinkAndRelaysAgain) {
    startBridge({"--link", dir + "/link"}, "pty: ");
    sntest::SerialClient client;
    ASSERT_TRUE(client.open(dir + "/link"));
    const Bytes ping{'p', 'i', 'n', 'g'};
    ASSERT_TRUE(client.writeAll(ping, 5s));
    EXPECT_EQ(client.readExactly(ping.size(), 5s), ping);

    ASSERT_NO_FATAL_FAILURE(
        unplugAndReplug([&] { EXPECT_TRUE(std::filesystem::exists(dir + "/link")); }));
    const Bytes pong{'p', 'o', 'n', 'g'};
    ASSERT_TRUE(client.writeAll(pong, 5s));
    EXPECT_EQ(client.readExactly(pong.size(), 10s), pong) << "the same open link, relayed again";
    expectCleanStop();
}

TEST_F(DeviceReturnTest, TheServedBridgeKeepsItsClientAndRelaysAgain) {
    startBridge({"--listen", "127.0.0.1:0", "--raw"}, "protocol: ");
    std::smatch found;
    const std::string out = bridge.outputSoFar();
    ASSERT_TRUE(std::regex_search(out, found, std::regex("127\\.0\\.0\\.1:([0-9]+)"))) << out;
    const int client = sntest::connectTo("127.0.0.1", static_cast<uint16_t>(std::stoi(found[1])));
    ASSERT_GE(client, 0);
    ASSERT_TRUE(waitUntil([&] { return count(bridge.errorsSoFar(), " connected") == 1; }, 5s));
    sntest::sendAll(client, "ping");
    EXPECT_EQ(sntest::receive(client, 5s).bytes, "ping");

    ASSERT_NO_FATAL_FAILURE(
        unplugAndReplug([&] { EXPECT_FALSE(sntest::receive(client, 100ms).closed); }));
    sntest::sendAll(client, "pong");
    std::string got;
    waitUntil(
        [&] {
            got += sntest::receive(client, 200ms).bytes;
            return got.size() >= 4;
        },
        10s);
    EXPECT_EQ(got, "pong") << bridge.errorsSoFar();
    close(client);
    expectCleanStop();
}

}  // namespace

// snctl bridge against an emulated node in the test process: an ordinary
// serial client on the bridge's link talks to the instrument behind
// virtual port 1.
#pragma once

#include "capturedProcess.h"
#include "serialClient.h"

#include "snsim/emulator.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace bridgetest {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

inline constexpr int kPort = 1;

inline std::string makeTempDir() {
    char dir[] = "/tmp/snctl-bridge-XXXXXX";
    return mkdtemp(dir) != nullptr ? dir : "";
}

inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace bridgetest

class BridgeTest : public ::testing::Test {
protected:
    // `adjust` changes the node's options before it starts.
    explicit BridgeTest(const std::function<void(snsim::Options&)>& adjust = {})
        : dir(bridgetest::makeTempDir()), sim(nodeOptions(dir, adjust)) {}

    static snsim::Options nodeOptions(const std::string& dir,
                                      const std::function<void(snsim::Options&)>& adjust) {
        snsim::Options options;
        for (auto& port : options.ports) port.kind = snsim::Attachment::Kind::None;
        options.ports[bridgetest::kPort].kind = snsim::Attachment::Kind::Pty;
        options.ports[bridgetest::kPort].linkPath = dir + "/instrument";
        // A node buffer of 4 KiB lasts 180 ms at 230400 bit/s, so a busy
        // test machine's scheduling cannot overrun it between polls.
        options.rxFifoSize = 4096;
        if (adjust) adjust(options);
        return options;
    }

    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(sim.start());
        ASSERT_TRUE(instrument.open(dir + "/instrument"));
    }

    void TearDown() override {
        bridge.signal(SIGKILL);
        std::filesystem::remove_all(dir);
    }

    // snctl -p NODE GLOBAL... bridge 1 EXTRA...; NODE is the emulator's
    // device unless named.
    std::vector<std::string> bridgeCommand(const std::vector<std::string>& extra,
                                           const std::vector<std::string>& global,
                                           const std::string& node) const {
        std::vector<std::string> argv{SNCTL_PATH, "-p", node.empty() ? sim.devicePath() : node};
        argv.insert(argv.end(), global.begin(), global.end());
        argv.insert(argv.end(), {"bridge", std::to_string(bridgetest::kPort)});
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }

    // Starts the bridge on the link and waits for it; the client opens it.
    void startBridge(const std::vector<std::string>& extra = {"-b", "230400"},
                     const std::vector<std::string>& global = {}, const std::string& node = "") {
        std::vector<std::string> argv = bridgeCommand(extra, global, node);
        argv.insert(argv.end(), {"--link", link()});
        ASSERT_TRUE(bridge.start(argv));
        // Ready once it says so: the link comes first, the port's line after.
        ASSERT_TRUE(bridgetest::waitUntil(
            [this] {
                const std::string out = bridge.outputSoFar();
                return out.find("pty: ") != std::string::npos ||
                       out.find("\"pty\":") != std::string::npos;
            },
            std::chrono::seconds(10)))
            << bridge.errorsSoFar();
        ASSERT_TRUE(client.open(link()));
    }

    // Starts the bridge with --listen 127.0.0.1:0 instead; the port it
    // serves on (0 when it did not start).
    uint16_t startServedBridge(const std::vector<std::string>& extra = {},
                               const std::vector<std::string>& global = {},
                               const std::string& node = "") {
        std::vector<std::string> argv = bridgeCommand(extra, global, node);
        argv.insert(argv.end(), {"--listen", "127.0.0.1:0"});
        // "listen: 127.0.0.1:PORT", or "listen":"127.0.0.1:PORT" in JSON.
        const std::regex listening("listen\"?: ?\"?127\\.0\\.0\\.1:([0-9]+)");
        const auto served = [&] {
            const std::string out = bridge.outputSoFar();
            std::smatch found;
            return std::regex_search(out, found, listening) ? std::stoi(found[1]) : 0;
        };
        const bool ready =
            bridge.start(argv) &&
            bridgetest::waitUntil([&] { return served() != 0; }, std::chrono::seconds(10));
        EXPECT_TRUE(ready) << bridge.errorsSoFar();
        return ready ? static_cast<uint16_t>(served()) : 0;
    }

    sntest::RunResult stopBridge(int signal = SIGTERM) {
        bridge.signal(signal);
        return bridge.wait(std::chrono::seconds(10));
    }

    std::string link() const { return dir + "/link"; }

    std::string dir;
    snsim::Emulator sim;
    sntest::SerialClient instrument;  // the device wired to the node's port
    sntest::CapturedProcess bridge;
    sntest::SerialClient client;  // the user's serial program
};

// One emulated node in the test process and the real snctl executable run
// against it.
#pragma once

#include "capturedProcess.h"

#include "snsim/emulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class SnctlTest : public ::testing::Test {
protected:
    static snsim::Options quietPorts() {
        snsim::Options options;
        for (auto& port : options.ports) port.kind = snsim::Attachment::Kind::None;
        return options;
    }

    explicit SnctlTest(snsim::Options options = quietPorts()) : sim(std::move(options)) {}

    void SetUp() override {
        ASSERT_TRUE(sim.start());
        sim.clearLog();
    }

    // snctl -p DEVICE [global...] ARGS...
    sntest::RunResult snctl(const std::vector<std::string>& args,
                            const std::vector<std::string>& global = {}) {
        std::vector<std::string> argv{SNCTL_PATH, "-p", sim.devicePath()};
        argv.insert(argv.end(), global.begin(), global.end());
        argv.insert(argv.end(), args.begin(), args.end());
        return sntest::runProgram(argv);
    }

    // The logged requests other than the device-timeout write every open
    // makes (function 6 at register 21).
    std::vector<snsim::Transaction> commandTraffic() const {
        std::vector<snsim::Transaction> traffic;
        for (const auto& t : sim.log()) {
            if (!(t.function == 6 && t.address == 21 && t.values == std::vector<uint16_t>{200})) {
                traffic.push_back(t);
            }
        }
        return traffic;
    }

    // What the node puts on port `port`'s line, gathered until `count`
    // bytes are there or `timeout` passes (it sends at the port's speed).
    std::vector<uint8_t> collectPortOutput(
        int port, std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::vector<uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
            const std::vector<uint8_t> more = sim.takePortOutput(port);
            out.insert(out.end(), more.begin(), more.end());
            if (more.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return out;
    }

    snsim::Emulator sim;
};

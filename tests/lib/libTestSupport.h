// Shared fixture: one emulated node on a pseudo-terminal, the library
// opened on it, and helpers to read the emulator's transaction log.
#pragma once

#include "snLib.h"
#include "snsim/emulator.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

// The library is initialised exactly once per process.
class LibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { initSensorNodeLib(); }
};

inline snsim::Options quietNodeOptions() {
    snsim::Options options;
    for (auto& port : options.ports) port.kind = snsim::Attachment::Kind::None;
    return options;
}

class NodeTest : public ::testing::Test {
protected:
    explicit NodeTest(snsim::Options options = quietNodeOptions()) : sim(std::move(options)) {}

    void SetUp() override {
        ASSERT_TRUE(sim.start());
        node = openSensorNode(sim.devicePath().c_str(), 115200, 1);
        ASSERT_NE(node, nullptr) << "errno " << errno;
        sim.clearLog();
    }

    void TearDown() override {
        snSetDebug(0);
        for (auto& ser : node->serial) {
            while (ser.ctx != nullptr) snCloseSerial(&ser);
        }
        while (node->refCount > 0) closeSensorNode(node);
    }

    // Fails the transactions of this node quickly instead of after 600 ms.
    void useShortResponseTimeout() {
        const timeval shortTimeout{0, 100000};
        snModbusSetResponseTimeout(node, &shortTimeout);
    }

    std::vector<snsim::Transaction> transactions() const { return sim.log(); }

    snsim::Emulator sim;
    SensorNode* node = nullptr;
};

// Matches a logged transaction on function, address and quantity.
#define EXPECT_TRANSACTION(t, fn, addr, qty) \
    do {                                     \
        EXPECT_EQ((t).function, fn);         \
        EXPECT_EQ((t).address, addr);        \
        EXPECT_EQ((t).quantity, qty);        \
    } while (0)

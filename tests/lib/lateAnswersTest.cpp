// Answers that come late, or behind frames that are not theirs: a caller of
// the library gets its own request's answer or a failure, never another's.
#include "libTestSupport.h"

#include "snline/deviceLock.h"

#include <modbus.h>
#include <unistd.h>

#include <random>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

class LateAnswers : public NodeTest {
protected:
    void SetUp() override {
        NodeTest::SetUp();
        useShortResponseTimeout();  // 100 ms
    }
};

TEST_F(LateAnswers, AnotherSlavesFrameFirstIsPassedOverForTheAnswer) {
    sim.setReg(15, 4242);
    sim.setFault(snsim::Fault::OtherSlaveFirst);
    uint16_t serial = 0;
    EXPECT_EQ(snGetSerialNum(node, &serial), 0) << modbus_strerror(errno);
    EXPECT_EQ(serial, 4242);
    sim.setFault(snsim::Fault::None);
}

// Register 21 is asked, the node answers it after the library gave up;
// register 15, asked next with the same function and length, must not get
// that answer.  The library first reads something of another shape and
// drops everything before that answer.
TEST_F(LateAnswers, ALateAnswerIsNeverTakenForTheNextRequestOfItsShape) {
    sim.setReg(21, 1111);
    sim.setReg(15, 2222);
    sim.setFault(snsim::Fault::Delay, 300ms);
    uint16_t word = 0;
    EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    sim.setFault(snsim::Fault::None);
    sim.clearLog();
    const timeval patient{3, 0};
    snModbusSetResponseTimeout(node, &patient);
    EXPECT_EQ(snGetSerialNum(node, &word), 0) << modbus_strerror(errno);
    EXPECT_EQ(word, 2222);
    // A read of another shape went first (the failed call's own probe may
    // show up before it: the busy node logs a request as it takes it).
    const auto log = transactions();
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[log.size() - 2].function, 3);
    EXPECT_TRANSACTION(log.back(), 3, 15, 1);
    // In step again: the next read goes alone.
    sim.clearLog();
    EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), 0);
    EXPECT_EQ(word, 1111);
    EXPECT_EQ(transactions().size(), 1u);
}

// Four threads write their own channel's parameter words and read them
// back through one node, while the node answers late (1.5 and 3 times the
// response timeout) or torn at random.  Every read that succeeds holds a
// value its own thread may have written.
TEST_F(LateAnswers, ThreadsReadOnlyTheirOwnValuesUnderLateAndTornAnswers) {
    snsim::RandomFaults faults;
    faults.late = 0.03;
    faults.torn = 0.02;
    faults.lateBy = 150ms;
    faults.alsoLateBy = 300ms;
    faults.seed = 21;
    sim.setRandomFaults(faults);
    std::atomic<int> wrong{0}, answered{0};
    std::vector<std::thread> threads;
    for (uint16_t channel = 0; channel < 4; ++channel) {
        threads.emplace_back([&, channel] {
            std::mt19937 rng(channel);
            std::set<uint16_t> possible;
            for (int i = 0; i < 100; ++i) {
                const auto value = static_cast<uint16_t>((channel << 12) | (rng() & 0xFFF));
                const uint16_t words[2] = {value, static_cast<uint16_t>(~value)};
                if (snSetAnalogParms(node, channel, 1, words) == 0) possible.clear();
                possible.insert(value);  // a write that failed may still be applied
                uint16_t back[2] = {};
                if (snGetAnalogParms(node, channel, 1, back) != 0) continue;
                ++answered;
                if (possible.count(back[0]) == 0 || back[1] != static_cast<uint16_t>(~back[0]))
                    ++wrong;
                else
                    possible = {back[0]};
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const snsim::InjectedFaults injected = sim.injectedFaults();
    sim.setRandomFaults(snsim::RandomFaults{});
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(answered.load(), 200);
    EXPECT_GT(injected.late, 0u);
    EXPECT_GT(injected.torn, 0u);
}

// One master per bus: the device is locked while a node is open, nodes of
// one process on one device share the lock, and it goes with the last.
TEST_F(LateAnswers, TheDeviceIsLockedWhileAnyOfItsNodesIsOpen) {
    const std::string device = sim.devicePath();
    EXPECT_EQ(snline::lockDevice(device.c_str()), -1);
    EXPECT_EQ(errno, EBUSY);
    SensorNode* second = openSensorNode(device.c_str(), 115200, 2);
    ASSERT_NE(second, nullptr) << "another slave on the same device, same process";
    while (node->refCount > 0) closeSensorNode(node);
    EXPECT_EQ(snline::lockDevice(device.c_str()), -1) << "held for the second node";
    EXPECT_EQ(errno, EBUSY);
    closeSensorNode(second);
    const int fd = snline::lockDevice(device.c_str());
    EXPECT_GE(fd, 0) << "free once the last node is closed";
    sim.clearLog();
    EXPECT_EQ(openSensorNode(device.c_str(), 115200, 1), nullptr) << "held by another open";
    EXPECT_EQ(errno, EBUSY);
    EXPECT_TRUE(sim.log().empty()) << "nothing sent";
    close(fd);
    node = openSensorNode(device.c_str(), 115200, 1);
    EXPECT_NE(node, nullptr);
}

}  // namespace

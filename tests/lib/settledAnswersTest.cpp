// A node that answers late: the call that gave up learns the answer
// before it returns when it can, and what comes later still is neither
// lost nor acted on twice.  The node's late answer is a busy node's: it
// goes out whatever the master does meanwhile, then what came meanwhile
// is answered in order.
#include "libTestSupport.h"

#include "snline/deviceLock.h"

#include <modbus.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The call gives up after 100 ms and its probe after 125 more.
constexpr auto kWithinTheProbe = 150ms;  // the late answer comes while the probe waits
constexpr auto kAfterTheProbe = 400ms;   // it comes after the call returned
constexpr auto kAllAnswered = 600ms;     // by then the busy node has answered everything

class SettledAnswers : public NodeTest {
protected:
    void SetUp() override {
        NodeTest::SetUp();
        ser = snOpenSerial(node, 1);
        ASSERT_NE(ser, nullptr);
        ASSERT_EQ(snSerInit(ser, 230400, 'N', 1), 0);
        useShortResponseTimeout();
        sim.clearLog();
    }

    void TearDown() override {
        if (watcher.joinable()) watcher.join();
        sim.setFault(snsim::Fault::None);
        NodeTest::TearDown();
    }

    // The node shows `fault` on the next request only: one slow or noisy
    // answer among good ones.
    void faultOnce(snsim::Fault fault, std::chrono::milliseconds delay = {}) {
        if (watcher.joinable()) watcher.join();
        const std::size_t seen = sim.log().size();
        sim.setFault(fault, delay);
        watcher = std::thread([this, seen] {
            sim.waitForLog(seen + 1, 5s);
            sim.setFault(snsim::Fault::None);
        });
    }

    std::vector<uint8_t> accepted() { return sim.takeAcceptedBytes(1); }

    SnSerial* ser = nullptr;
    std::thread watcher;
};

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST_F(SettledAnswers, ACallAnsweredLateReturnsTheAnswerAndTheAnsweredPathSendsNothingMore) {
    sim.setReg(21, 1111);
    uint16_t word = 0;
    errno = EDOM;
    EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), 0);
    EXPECT_EQ(word, 1111);
    EXPECT_EQ(errno, EDOM) << "a call that succeeded leaves errno alone";
    EXPECT_EQ(transactions().size(), 1u) << "nothing but the request when it is answered";

    sim.clearLog();
    faultOnce(snsim::Fault::Delay, kWithinTheProbe);
    EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), 0) << modbus_strerror(errno);
    EXPECT_EQ(word, 1111);
    faultOnce(snsim::Fault::Delay, kWithinTheProbe);
    EXPECT_EQ(snPower(node, 2, 1), 0) << "a write answered late succeeds";
    EXPECT_TRUE(sim.coil(2));
    const auto log = transactions();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_TRANSACTION(log[0], 3, 21, 1);
    EXPECT_NE(log[1].function, 3) << "the probe has another shape";
    EXPECT_TRANSACTION(log[2], 5, 2, 1);
    // In step again: the next call goes alone and gets its own answer.
    sim.clearLog();
    EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), 0);
    EXPECT_EQ(word, 1111);
    EXPECT_EQ(transactions().size(), 1u);
}

TEST_F(SettledAnswers, PortTransfersAnsweredLateMoveEveryByteOnce) {
    sim.feedPort(1, bytesOf("from the instrument"));
    faultOnce(snsim::Fault::Delay, kWithinTheProbe);
    const std::string out = "to the instrument";
    EXPECT_EQ(snSerWrite(ser, out.data(), static_cast<uint32_t>(out.size())),
              static_cast<int>(out.size()));
    faultOnce(snsim::Fault::Delay, kWithinTheProbe);
    char buf[64] = {};
    EXPECT_EQ(snSerRead(ser, buf, 19), 19) << modbus_strerror(errno);
    EXPECT_EQ(std::string(buf, 19), "from the instrument");
    EXPECT_EQ(snSerWriteSettle(ser), 0) << "nothing was in doubt";
    std::this_thread::sleep_for(kAllAnswered);
    EXPECT_EQ(accepted(), bytesOf(out));
    uint32_t rxBlocks = 9, txBytes = 9;
    EXPECT_EQ(snSerGetUnknown(ser, &rxBlocks, &txBytes), 0);
    EXPECT_EQ(rxBlocks, 0u);
    EXPECT_EQ(txBytes, 0u);
}

// The chunk's answer comes after the call gave up: the next write sends
// nothing before the node told, and what it took is told once.
TEST_F(SettledAnswers, AChunkAnsweredAfterTheCallIsHeldThenToldOnce) {
    faultOnce(snsim::Fault::Delay, kAfterTheProbe);
    const std::string out = "dispense 10 ml\n";
    const auto length = static_cast<uint32_t>(out.size());
    errno = 0;
    EXPECT_EQ(snSerWrite(ser, out.data(), length), 0);
    EXPECT_EQ(errno, ETIMEDOUT);
    watcher.join();
    sim.setFault(snsim::Fault::NoAnswer);
    sim.clearLog();
    EXPECT_EQ(snSerWrite(ser, out.data(), length), 0) << "held while the node is silent";
    EXPECT_EQ(snSerWriteSettle(ser), -1);
    for (const auto& t : transactions()) EXPECT_NE(t.function, 23) << "nothing resent";

    sim.setFault(snsim::Fault::None);
    std::this_thread::sleep_for(kAllAnswered);
    EXPECT_EQ(snSerWriteSettle(ser), static_cast<int>(length));
    EXPECT_EQ(snSerWriteSettle(ser), 0) << "told once";
    EXPECT_EQ(accepted(), bytesOf(out));
    // The port goes on as before.
    EXPECT_EQ(snSerWrite(ser, "ok", 2), 2);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(accepted(), bytesOf("ok"));
}

TEST_F(SettledAnswers, AReceiveBlockAnsweredAfterTheCallIsHandedOutFirstInOrder) {
    sim.feedPort(1, bytesOf("first "));
    faultOnce(snsim::Fault::Delay, kAfterTheProbe);
    char buf[64] = {};
    errno = 0;
    EXPECT_EQ(snSerRead(ser, buf, sizeof buf), 0);
    EXPECT_EQ(errno, ETIMEDOUT);
    sim.feedPort(1, bytesOf("second"));
    std::this_thread::sleep_for(kAllAnswered);
    std::string got;
    for (int i = 0; i < 5 && got.size() < 12; ++i) {
        const int n = snSerRead(ser, buf, sizeof buf);
        got.append(buf, static_cast<std::size_t>(std::max(n, 0)));
    }
    EXPECT_EQ(got, "first second");
}

// A garbled answer says the node acted, not how: the bytes it may have
// taken are counted, and so is the receive block it may have handed out.
TEST_F(SettledAnswers, WhatAGarbledAnswerHidesIsCounted) {
    sim.feedPort(1, bytesOf("lost"));
    faultOnce(snsim::Fault::BadCrc);
    char buf[16];
    EXPECT_EQ(snSerRead(ser, buf, sizeof buf), 0);
    faultOnce(snsim::Fault::BadCrc);
    EXPECT_EQ(snSerWrite(ser, "abc", 3), 0);
    EXPECT_EQ(errno, EMBBADCRC);
    EXPECT_EQ(accepted(), bytesOf("abc")) << "the node took them; only its answer was spoilt";
    EXPECT_EQ(snSerWriteSettle(ser), 0);
    uint32_t rxBlocks = 0, txBytes = 0;
    EXPECT_EQ(snSerGetUnknown(ser, &rxBlocks, &txBytes), 0);
    EXPECT_EQ(rxBlocks, 1u);
    EXPECT_EQ(txBytes, 3u);
    EXPECT_EQ(snSerGetUnknown(nullptr, &rxBlocks, &txBytes), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(SettledAnswers, AnEmptyReadAfterAStrayFrameLeavesErrnoAlone) {
    sim.setFault(snsim::Fault::OtherSlaveFirst);
    char buf[8];
    errno = EDOM;
    EXPECT_EQ(snSerRead(ser, buf, sizeof buf), 0);
    EXPECT_EQ(errno, EDOM);
    sim.setFault(snsim::Fault::None);
}

// One device under two names (the emulator's link and a symlink to it) is
// one node: a late answer owed on one name is never believed on the other.
TEST_F(SettledAnswers, DebtsAndTheLockBelongToTheDeviceNotItsName) {
    const std::string alias = "/tmp/snlib-alias-" + std::to_string(getpid());
    ASSERT_EQ(symlink(sim.devicePath().c_str(), alias.c_str()), 0);
    SensorNode* other = openSensorNode(alias.c_str(), 115200, 1);
    ASSERT_EQ(other, node) << "the same node and slave share one entry";
    sim.setReg(21, 2121);
    sim.setReg(15, 1515);
    sim.setFault(snsim::Fault::Delay, 1000ms);
    uint16_t word = 0;
    EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), -1);
    sim.setFault(snsim::Fault::None);
    const timeval patient{3, 0};
    snModbusSetResponseTimeout(other, &patient);
    EXPECT_EQ(snGetSerialNum(other, &word), 0) << modbus_strerror(errno);
    EXPECT_EQ(word, 1515);
    EXPECT_EQ(closeSensorNode(other), 0);
    // Still open under the first name: the device stays locked, whichever
    // name another program tries.
    EXPECT_EQ(snline::lockDevice(alias.c_str()), -1);
    EXPECT_EQ(errno, EBUSY);
    unlink(alias.c_str());
}

}  // namespace

namespace {

using namespace std::chrono_literals;

snsim::Options twoSlaves() {
    snsim::Options options = quietNodeOptions();
    options.slaves = {1, 2};
    return options;
}

// Two nodes on one line, each with a context of its own: a late answer of
// one is read while the other is asked, and still counts for its request.
class TwoNodesOnALine : public NodeTest {
protected:
    TwoNodesOnALine() : NodeTest(twoSlaves()) {}
};

TEST_F(TwoNodesOnALine, AnotherNodesLateAnswerIsToldForItsOwnRequest) {
    SensorNode* second = openSensorNode(sim.devicePath().c_str(), 115200, 2);
    ASSERT_NE(second, nullptr);
    SnSerial* port = snOpenSerial(second, 1);
    ASSERT_NE(port, nullptr);
    const timeval quick{0, 100000};
    snModbusSetResponseTimeout(second, &quick);
    sim.setFault(snsim::Fault::Delay, 400ms);
    std::thread clear([this] {
        sim.waitForLog(sim.log().size() + 1, 5s);
        sim.setFault(snsim::Fault::None);
    });
    EXPECT_EQ(snSerWrite(port, "late", 4), 0) << "its answer comes after the probe's wait";
    clear.join();
    std::this_thread::sleep_for(600ms);
    uint16_t word = 0;
    EXPECT_EQ(snGetSerialNum(node, &word), 0) << "the first node's call reads the late frames";
    EXPECT_EQ(snSerWriteSettle(port), 4);
    uint32_t rxBlocks = 9, txBytes = 9;
    EXPECT_EQ(snSerGetUnknown(port, &rxBlocks, &txBytes), 0);
    EXPECT_EQ(txBytes, 0u) << "nothing clouded by a frame of the other slave";
    EXPECT_EQ(rxBlocks, 0u);
    snCloseSerial(port);
    closeSensorNode(second);
}

}  // namespace

// A flaky or misbehaving node: every call fails the documented way with
// libmodbus's errno, nothing stays locked, and the link recovers.
#include "libTestSupport.h"

#include <modbus.h>

#include <cstring>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

class Faults : public NodeTest {
protected:
    void SetUp() override {
        NodeTest::SetUp();
        useShortResponseTimeout();
        ser = snOpenSerial(node, 1);
        ASSERT_NE(ser, nullptr);
        ASSERT_EQ(snSerInit(ser, 230400, 'N', 1), 0);
        sim.clearLog();
    }

    void setResponseTimeout(std::chrono::milliseconds t) {
        const timeval tv{static_cast<time_t>(t.count() / 1000),
                         static_cast<suseconds_t>(t.count() % 1000 * 1000)};
        snModbusSetResponseTimeout(node, &tv);
    }

    // The library lock must be free: a call from another thread completes.
    void expectLockFree() {
        auto other = std::async(std::launch::async, [this] {
            uint16_t word = 0;
            return snGetSerialNum(node, &word);
        });
        ASSERT_EQ(other.wait_for(5s), std::future_status::ready) << "library lock left held";
        other.get();
    }

    std::vector<uint8_t> instrumentReceived(size_t expected) {
        std::vector<uint8_t> out;
        for (int i = 0; i < 100; ++i) {
            auto more = sim.takePortOutput(1);
            out.insert(out.end(), more.begin(), more.end());
            if (out.size() >= expected && i > 5) break;
            std::this_thread::sleep_for(10ms);
        }
        return out;
    }

    SnSerial* ser = nullptr;
};

// Calls that get an answer wait long for it, so a loaded machine cannot
// turn the answer into a timeout; calls that must time out wait briefly,
// and the late answer is due far beyond that, so no stall makes it on time.
constexpr auto kAnswerComes = 3000ms;
constexpr auto kNoAnswerComes = 100ms;
constexpr auto kLateBy = 1500ms;

struct FaultCase {
    snsim::Fault fault;
    int expectedErrno;
    const char* name;
    std::chrono::milliseconds responseTimeout;
};

TEST_F(Faults, EveryFaultFailsWithLibmodbusErrnoAndTheLinkRecovers) {
    const FaultCase cases[] = {
        {snsim::Fault::NoAnswer, ETIMEDOUT, "no answer", kNoAnswerComes},
        {snsim::Fault::Delay, ETIMEDOUT, "late answer", kNoAnswerComes},
        {snsim::Fault::Exception, EMBXSFAIL, "exception", kAnswerComes},
        // Another slave's frame is passed over; the wait for the answer goes on.
        {snsim::Fault::WrongSlave, ETIMEDOUT, "other slave", kNoAnswerComes},
        {snsim::Fault::BadCrc, EMBBADCRC, "bad CRC", kAnswerComes},
        {snsim::Fault::ShortFrame, 0, "short frame", kAnswerComes},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim.setFault(c.fault, kLateBy, 4);
        setResponseTimeout(c.responseTimeout);
        uint16_t word = 0;
        errno = 0;
        EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), -1);
        if (c.expectedErrno != 0) {
            EXPECT_EQ(errno, c.expectedErrno) << modbus_strerror(errno);
        }
        EXPECT_NE(errno, 0);
        const uint8_t byte = 'q';
        EXPECT_EQ(snSerWrite(ser, &byte, 1), 0);
        uint8_t buf[4];
        EXPECT_EQ(snSerRead(ser, buf, 4), 0);
        EXPECT_EQ(snPowerIsOn(node, 0), -1);
        sim.setFault(snsim::Fault::None);
        setResponseTimeout(kAnswerComes);
        expectLockFree();
        // A late answer still on its way must not be taken for the next one:
        // by now it would have come.
        if (c.fault == snsim::Fault::Delay) std::this_thread::sleep_for(kLateBy);
        EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), 0) << modbus_strerror(errno);
        EXPECT_EQ(word, 200);
    }
}

// The second half of a torn answer arrives after the master gave up on it;
// it must be dropped, not read as the start of the next answer.
TEST_F(Faults, RestOfATornAnswerDoesNotSpoilTheNextTransactions) {
    for (int round = 0; round < 3; ++round) {
        sim.setFault(snsim::Fault::TornAnswer);
        uint16_t word = 0;
        getSensorNodeModbusTimeout(node, &word);  // fails unless woken late
        sim.setFault(snsim::Fault::None);
        EXPECT_EQ(getSensorNodeModbusTimeout(node, &word), 0) << modbus_strerror(errno);
        EXPECT_EQ(word, 200);
        uint8_t buf[8];
        errno = 0;
        snSerRead(ser, buf, sizeof buf);
        EXPECT_EQ(errno, 0) << modbus_strerror(errno);
    }
}

TEST_F(Faults, NodeTakingNothingForAWhileGetsEverythingInTheEnd) {
    sim.setAcceptLimit(1, 0);
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    std::thread resume([&] {
        std::this_thread::sleep_for(250ms);
        sim.setAcceptLimit(1, 30);
    });
    EXPECT_EQ(snSerWrite(ser, data.data(), 100), 100);
    resume.join();
    EXPECT_EQ(instrumentReceived(100), data);
}

TEST_F(Faults, WriteCutShortReportsExactlyThePrefixThatArrived) {
    sim.setAcceptLimit(1, 100);
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
    std::thread stop([&] {
        sim.waitForLog(3, 5s);
        sim.setFault(snsim::Fault::NoAnswer);
    });
    const int sent = snSerWrite(ser, data.data(), 1000);
    stop.join();
    sim.setFault(snsim::Fault::None);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 1000);
    EXPECT_EQ(sent % 100, 0);
    const auto arrived = instrumentReceived(static_cast<size_t>(sent));
    EXPECT_EQ(arrived, std::vector<uint8_t>(data.begin(), data.begin() + sent));
}

TEST_F(Faults, AbsurdReceiveCountIsCutAtTheBlock) {
    sim.feedPort(1, {'a', 'b', 'c', 'd', 'e'});
    sim.setFault(snsim::Fault::AbsurdCounts);
    uint8_t buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(snSerRead(ser, buf, 20), 20) << "a block of 10 data registers holds 20 bytes";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "abcde");
    EXPECT_EQ(buf[20], 0xEE) << "nothing written past the request";
    EXPECT_EQ(snSerRxCount(ser), 0);
    sim.setFault(snsim::Fault::None);
}

TEST_F(Faults, AbsurdAcceptanceNeverSkipsOrRepeatsData) {
    sim.setFault(snsim::Fault::AbsurdCounts);
    const uint8_t small[] = {1, 2, 3};
    EXPECT_EQ(snSerWrite(ser, small, 3), 3) << "255 taken of a 3-byte chunk counts as 3";
    std::vector<uint8_t> data(500);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(snSerWrite(ser, data.data(), 500), 500);
    sim.setFault(snsim::Fault::None);
    std::vector<uint8_t> expected(small, small + 3);
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(instrumentReceived(expected.size()), expected);
}

}  // namespace

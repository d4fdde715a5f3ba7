// Drain, flushes, break and error flags of a virtual port.
#include "libTestSupport.h"

#include <thread>

namespace {

class LineControl : public NodeTest {
protected:
    SnSerial* openPort(uint16_t port, int speed) {
        SnSerial* ser = snOpenSerial(node, port);
        EXPECT_NE(ser, nullptr);
        if (ser != nullptr) {
            EXPECT_EQ(snSerInit(ser, speed, 'N', 1), 0);
        }
        sim.clearLog();
        return ser;
    }
    // Fills the port's transmit FIFO so it stays busy for seconds at 300 bit/s.
    void keepBusy(SnSerial* ser) {
        const std::vector<uint8_t> data(200, 'x');
        ASSERT_GT(snSerWrite(ser, data.data(), 200), 0);
        sim.clearLog();
    }
    // The log holds exactly one single-register write (06) of value at address.
    void expectOnlyRegisterWrite(int address, uint16_t value) const {
        const auto log = sim.log();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRANSACTION(log[0], 6, address, 1);
        EXPECT_EQ(log[0].values, std::vector<uint16_t>{value});
    }
    size_t busyRegisterReads() const {
        size_t n = 0;
        for (const auto& t : sim.log()) n += (t.function == 3 && t.address == 254);
        return n;
    }
};

TEST_F(LineControl, DrainPollsEveryHundredMillisecondsWithinItsBudget) {
    SnSerial* ser = openPort(1, 300);
    keepBusy(ser);
    EXPECT_EQ(snSerDrain(ser, 100), 0) << "running out of budget still reports success";
    EXPECT_EQ(busyRegisterReads(), 10u);
    const auto log = sim.log();
    EXPECT_GE(log.back().when - log.front().when, std::chrono::milliseconds(850));

    sim.clearLog();
    EXPECT_EQ(snSerDrain(ser, 15), 0);
    EXPECT_LE(busyRegisterReads(), 2u);
    sim.clearLog();
    EXPECT_EQ(snSerDrain(ser, 0), 0);
    EXPECT_EQ(busyRegisterReads(), 0u);
}

TEST_F(LineControl, DrainOfIdlePortReadsOnce) {
    SnSerial* ser = openPort(2, 9600);
    EXPECT_EQ(snSerDrain(ser, 100), 0);
    EXPECT_EQ(busyRegisterReads(), 1u);
}

TEST_F(LineControl, DrainSeesBusyBitsOfPortsOneAndTwo) {
    SnSerial* p2 = openPort(2, 300);
    keepBusy(p2);
    EXPECT_NE(sim.reg(254) & (1u << 7), 0u);
    EXPECT_EQ(sim.reg(254) & (1u << 3), 0u);
    EXPECT_EQ(snSerDrain(p2, 20), 0);
    EXPECT_EQ(busyRegisterReads(), 2u);
}

TEST_F(LineControl, DrainOnPortZeroReadsTheBusyRegisterOnce) {
    SnSerial* ser = openPort(0, 300);
    keepBusy(ser);
    EXPECT_EQ(snSerDrain(ser, 100), 0);
    EXPECT_EQ(busyRegisterReads(), 1u);
    useShortResponseTimeout();
    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_EQ(snSerDrain(ser, 100), -1);
    sim.setFault(snsim::Fault::None);
}

TEST_F(LineControl, InputFlushDropsBufferedBytesEvenWhenTheWriteFails) {
    SnSerial* ser = openPort(1, 9600);
    sim.feedPort(1, {'a', 'b', 'c', 'd'});
    char byte;
    ASSERT_EQ(snSerRead(ser, &byte, 1), 1);
    ASSERT_EQ(snSerRxCount(ser), 3);
    sim.feedPort(1, {'e'});
    sim.clearLog();
    EXPECT_EQ(snSerIFlush(ser), 0);
    EXPECT_EQ(snSerRxCount(ser), 0);
    EXPECT_EQ(sim.rxPending(1), 0u);
    expectOnlyRegisterWrite(513, 32);

    sim.feedPort(1, {'f', 'g'});
    ASSERT_EQ(snSerRead(ser, &byte, 1), 1);
    useShortResponseTimeout();
    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_EQ(snSerIFlush(ser), -1);
    EXPECT_EQ(snSerRxCount(ser), 0);
    sim.setFault(snsim::Fault::None);
}

TEST_F(LineControl, OutputFlushEmptiesTheTransmitFifo) {
    SnSerial* ser = openPort(1, 300);
    keepBusy(ser);
    ASSERT_GT(sim.txPending(1), 0u);
    EXPECT_EQ(snSerOFlush(ser), 0);
    EXPECT_EQ(sim.txPending(1), 0u);
    expectOnlyRegisterWrite(643, 32);
}

TEST_F(LineControl, ZeroBreakWritesOneThenZero) {
    SnSerial* ser = openPort(2, 9600);
    EXPECT_EQ(snSerBreak(ser, 0), 0);
    const auto log = sim.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRANSACTION(log[0], 6, 900, 1);
    EXPECT_EQ(log[0].values, std::vector<uint16_t>{1});
    EXPECT_TRANSACTION(log[1], 6, 900, 1);
    EXPECT_EQ(log[1].values, std::vector<uint16_t>{0});
    EXPECT_FALSE(sim.breakActive(2));
}

// A break held across calls: one write starts it, it stays until another
// ends it, and a closed port is refused before any traffic.
TEST_F(LineControl, SetBreakHoldsTheBreakUntilEnded) {
    SnSerial* ser = openPort(2, 9600);
    EXPECT_EQ(snSerSetBreak(ser, 5), 0);
    EXPECT_TRUE(sim.breakActive(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(sim.breakActive(2));
    EXPECT_EQ(snSerSetBreak(ser, 0), 0);
    EXPECT_FALSE(sim.breakActive(2));
    const auto log = sim.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRANSACTION(log[0], 6, 900, 1);
    EXPECT_EQ(log[0].values, std::vector<uint16_t>{1});
    EXPECT_EQ(log[1].values, std::vector<uint16_t>{0});
    sim.clearLog();
    errno = 0;
    EXPECT_EQ(snSerSetBreak(nullptr, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(sim.log().empty());
}

TEST_F(LineControl, OtherTransactionsRunDuringALongBreak) {
    SnSerial* ser = openPort(1, 9600);
    std::thread breaker([&] { EXPECT_EQ(snSerBreak(ser, 1200), 0); });
    ASSERT_TRUE(sim.waitForLog(1, std::chrono::seconds(2)));
    EXPECT_TRUE(sim.breakActive(1));
    uint16_t serial = 0;
    EXPECT_EQ(snGetSerialNum(node, &serial), 0);
    breaker.join();
    const auto log = sim.log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].address, 644);
    EXPECT_EQ(log[1].address, 15) << "ran while the break was held";
    EXPECT_EQ(log[2].address, 644);
    EXPECT_GE(log[2].when - log[0].when, std::chrono::milliseconds(1150))
        << "a break over a second must sleep its whole length";
    EXPECT_FALSE(sim.breakActive(1));
}

TEST_F(LineControl, ErrorFlagsShowOverrunAndClearWithOnlyTheClearableBits) {
    SnSerial* ser = openPort(1, 9600);
    sim.feedPort(1, std::vector<uint8_t>(600, 'z'));  // more than the node's FIFO holds
    uint16_t flags = 0;
    EXPECT_EQ(snSerGetErrFlags(ser, &flags), 0);
    EXPECT_NE(flags & 31, 0) << "overrun must show";
    EXPECT_EQ(snSerGetErrFlags(ser, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);

    sim.clearLog();
    EXPECT_EQ(snSerClearErrFlags(ser, 0xFF), 0);
    expectOnlyRegisterWrite(513, 31);
    EXPECT_EQ(snSerGetErrFlags(ser, &flags), 0);
    EXPECT_EQ(flags & 31, 0);
    EXPECT_GT(sim.rxPending(1), 0u) << "clearing flags must not flush the receive side";
}

TEST_F(LineControl, ClosedOrNullPortIsRefusedWithoutTraffic) {
    SnSerial* closed = &node->serial[1];
    uint16_t flags;
    for (SnSerial* ser : {closed, static_cast<SnSerial*>(nullptr)}) {
        errno = 0;
        EXPECT_EQ(snSerDrain(ser, 10), -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(snSerIFlush(ser), -1);
        EXPECT_EQ(snSerOFlush(ser), -1);
        EXPECT_EQ(snSerBreak(ser, 1), -1);
        EXPECT_EQ(snSerGetErrFlags(ser, &flags), -1);
        EXPECT_EQ(snSerClearErrFlags(ser, 1), -1);
    }
    EXPECT_TRUE(sim.log().empty());
}

}  // namespace

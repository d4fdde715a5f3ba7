// The virtual port model on its own, with the clock passed in: line speed,
// FIFO bounds, overrun, break and receive pacing to the exact character.
#include "portModel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using namespace std::chrono_literals;
using snsim::detail::PortModel;
using Time = snsim::detail::Clock::time_point;

const Time t0 = Time{} + 1h;

std::vector<uint8_t> pattern(std::size_t n, uint8_t first = 1) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i * 7);
    return v;
}

std::vector<uint8_t> prefix(const std::vector<uint8_t>& v, std::size_t n) {
    return {v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::size_t accept(PortModel& m, const std::vector<uint8_t>& bytes, Time now, bool on = true) {
    return m.acceptTx(bytes.data(), bytes.size(), on, now);
}

// At 9600 bit/s a character of 10 bits takes 1041.667 us.
TEST(PortModel, DrainsOneCharacterPerTenBitTimesInOrder) {
    PortModel m(512, 512);
    m.setSink(PortModel::Sink::External);
    m.setSpeed(9600, t0);
    const auto data = pattern(200);
    ASSERT_EQ(accept(m, data, t0), 200u);
    m.advance(t0 + 1041us);
    EXPECT_EQ(m.txPending(), 200u);
    m.advance(t0 + 1042us);
    EXPECT_EQ(m.txPending(), 199u);
    m.advance(t0 + 104166us);  // 100 characters take 104166.7 us
    EXPECT_EQ(m.txPending(), 101u);
    m.advance(t0 + 104167us);
    EXPECT_EQ(m.txPending(), 100u);
    ASSERT_TRUE(m.nextDrain());  // the 101st is done at 105208.3 us
    EXPECT_GT(*m.nextDrain(), t0 + 105208us);
    EXPECT_LT(*m.nextDrain(), t0 + 105209us);
    EXPECT_EQ(m.takeTap(), prefix(data, 100));
    EXPECT_EQ(m.takeExternal(), prefix(data, 100));

    // 115200 bit/s from here: 86.806 us a character, 100 take 8680.6 us.
    const Time t1 = t0 + 104167us;
    m.setSpeed(115200, t1);
    m.advance(t1 + 1ms);
    EXPECT_EQ(m.txPending(), 89u);
    m.advance(t1 + 8680us);
    EXPECT_EQ(m.txPending(), 1u);
    m.advance(t1 + 8681us);
    EXPECT_EQ(m.txPending(), 0u);
    EXPECT_FALSE(m.nextDrain());
    EXPECT_EQ(m.takeTap(), std::vector<uint8_t>(data.begin() + 100, data.end()));
    EXPECT_TRUE(m.takeTap().empty());
}

TEST(PortModel, LoopbackPutsDrainedBytesIntoTheReceiveFifoAndOverrunsItThere) {
    PortModel m(512, 16);
    m.setSink(PortModel::Sink::Loopback);
    m.setSpeed(9600, t0);
    const auto data = pattern(40);
    ASSERT_EQ(accept(m, data, t0), 40u);
    m.advance(t0 + 10500us);  // 10 characters
    EXPECT_EQ(m.rxPending(), 10u);
    EXPECT_EQ(m.errorFlags(), 0);
    m.advance(t0 + 1s);
    EXPECT_EQ(m.rxPending(), 16u);
    EXPECT_EQ(m.errorFlags(), 0x0002);
    std::vector<uint8_t> got(64);
    got.resize(m.takeRx(got.data(), got.size()));
    EXPECT_EQ(got, prefix(data, 16));
    EXPECT_EQ(m.takeTap(), data);  // the line carried all 40
    EXPECT_TRUE(m.takeExternal().empty());
}

TEST(PortModel, TransmitFifoTakesOnlyItsFreeSpaceAndTheAcceptLimit) {
    PortModel m(64, 512);
    m.setSpeed(9600, t0);
    EXPECT_EQ(accept(m, pattern(100), t0), 64u);
    EXPECT_EQ(accept(m, pattern(100), t0 + 500us), 0u);
    EXPECT_EQ(accept(m, pattern(100, 90), t0 + 10500us), 10u);  // 10 have left
    EXPECT_EQ(m.txPending(), 64u);
    EXPECT_EQ(accept(m, pattern(100), t0 + 1s, false), 0u) << "transmit disabled";
    EXPECT_EQ(m.txPending(), 0u);
    m.setAcceptLimit(5);
    EXPECT_EQ(accept(m, pattern(100), t0 + 1s), 5u);
    m.setAcceptLimit(0);
    EXPECT_EQ(accept(m, pattern(100), t0 + 1s), 0u);
    m.setAcceptLimit(-1);
    EXPECT_EQ(accept(m, pattern(100), t0 + 1s), 59u);
    std::vector<uint8_t> line = pattern(64);
    const auto late = pattern(10, 90);
    line.insert(line.end(), late.begin(), late.end());
    EXPECT_EQ(m.takeTap(), line);
}

TEST(PortModel, ReceiveOverflowDropsTheExcessAndSetsOverrunBit1) {
    PortModel m(512, 16);
    EXPECT_EQ(m.pushRx(pattern(10).data(), 10), 0u);
    EXPECT_EQ(m.errorFlags(), 0);
    const auto more = pattern(10, 100);
    EXPECT_EQ(m.pushRx(more.data(), more.size()), 4u);
    EXPECT_EQ(m.rxPending(), 16u);
    EXPECT_EQ(m.errorFlags(), 0x0002);
    uint8_t got[32] = {};
    ASSERT_EQ(m.takeRx(got, 8), 8u);
    ASSERT_EQ(m.takeRx(got + 8, 32), 8u);
    std::vector<uint8_t> expected = pattern(10);
    expected.insert(expected.end(), more.begin(), more.begin() + 6);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 16), expected);
    EXPECT_EQ(m.errorFlags(), 0x0002) << "the flag stays until cleared";
    m.clearErrorFlags(0x0002);
    EXPECT_EQ(m.errorFlags(), 0);
}

TEST(PortModel, BreakAndSpeedZeroHoldTheTransmitterUntilReleased) {
    PortModel m(512, 512);
    m.setSpeed(9600, t0);
    ASSERT_EQ(accept(m, pattern(10), t0), 10u);
    m.setBreak(true, t0 + 2604us);  // 2.5 characters: two have left
    EXPECT_TRUE(m.breakActive());
    m.advance(t0 + 10s);
    EXPECT_EQ(m.txPending(), 8u);
    EXPECT_FALSE(m.nextDrain());
    const Time t1 = t0 + 10s;
    m.setBreak(false, t1);
    m.advance(t1 + 1041us);  // the line starts a whole character anew
    EXPECT_EQ(m.txPending(), 8u);
    m.advance(t1 + 1042us);
    EXPECT_EQ(m.txPending(), 7u);

    m.setSpeed(0, t1 + 1042us);
    m.advance(t1 + 20s);
    EXPECT_EQ(m.txPending(), 7u);
    EXPECT_FALSE(m.nextDrain());
    EXPECT_EQ(m.rxAllowance(t1 + 20s), 0u) << "a stopped line carries nothing in either";
    const Time t2 = t1 + 20s;
    m.setSpeed(9600, t2);
    m.advance(t2 + 7292us);  // 7 characters take 7291.7 us
    EXPECT_EQ(m.txPending(), 0u);
    EXPECT_EQ(m.takeTap(), pattern(10));
}

TEST(PortModel, InstrumentSideIsPacedToTheLineWithABurstOf256) {
    PortModel m(512, 512);
    m.setSpeed(9600, t0);
    EXPECT_EQ(m.rxAllowance(t0), 256u) << "an idle line allows one burst";
    m.consumeRxAllowance(256, t0);
    EXPECT_EQ(m.rxAllowance(t0), 0u);
    EXPECT_EQ(m.rxAllowance(t0 + 10416us), 9u);  // 10 characters take 10416.7 us
    EXPECT_EQ(m.rxAllowance(t0 + 10417us), 10u);
    m.consumeRxAllowance(4, t0 + 10417us);
    EXPECT_EQ(m.rxAllowance(t0 + 10417us), 6u);
    EXPECT_EQ(m.rxAllowance(t0 + 1s), 256u) << "956 characters have passed: capped at the burst";
    // Idle credit never exceeds one burst, so a long pause buys no more.
    m.consumeRxAllowance(100, t0 + 60s);
    EXPECT_EQ(m.rxAllowance(t0 + 60s), 156u);
}

}  // namespace

// The bridge's line pacer with the clock passed in: what a line of a given
// speed can carry, the burst it may run ahead, and the waits it asks for.
#include "sncommon/linePacer.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using sncommon::LinePacer;

const LinePacer::Clock::time_point t0 = LinePacer::Clock::time_point{} + 1h;

// 9600 bit/s at 10 bits a byte: 960 bytes a second.
TEST(LinePacer, AllowanceGrowsAtTheLineRateUpToABurstOf480) {
    LinePacer pacer(9600, 10, t0);
    EXPECT_EQ(pacer.allowance(t0), 480u) << "an idle line may take one burst at once";
    pacer.spent(480);
    EXPECT_EQ(pacer.allowance(t0), 0u);
    EXPECT_EQ(pacer.allowance(t0 + 125ms), 120u);
    EXPECT_EQ(pacer.allowance(t0 + 250ms), 240u);
    pacer.spent(100);
    EXPECT_EQ(pacer.allowance(t0 + 250ms), 140u);
    EXPECT_EQ(pacer.allowance(t0 + 1s), 480u) << "860 would have accrued";
    EXPECT_EQ(pacer.allowance(t0 + 1h), 480u);

    // With a parity bit, 11 bits a byte: 872.7 bytes a second.
    LinePacer parity(9600, 11, t0);
    parity.spent(480);
    EXPECT_EQ(parity.allowance(t0 + 250ms), 218u);
    LinePacer fast(115200, 10, t0);
    fast.spent(480);
    EXPECT_EQ(fast.allowance(t0 + 25ms), 288u);
}

TEST(LinePacer, DebtStopsAtOneBurst) {
    LinePacer pacer(9600, 10, t0);
    pacer.spent(1000);  // 480 - 1000 would be 520 in debt; only 480 count
    EXPECT_EQ(pacer.allowance(t0 + 100ms), 0u) << "nothing while in debt";
    EXPECT_EQ(pacer.waitFor(1, t0 + 100ms), 402ms);
    EXPECT_EQ(pacer.allowance(t0 + 500ms), 0u);
    EXPECT_EQ(pacer.allowance(t0 + 750ms), 240u);
    EXPECT_EQ(pacer.waitFor(480, t0 + 750ms), 250ms);
}

TEST(LinePacer, WaitIsTheTimeTheMissingBytesTakeRoundedUp) {
    LinePacer pacer(9600, 10, t0);
    EXPECT_EQ(pacer.waitFor(480, t0), 0ms);
    pacer.spent(480);
    EXPECT_EQ(pacer.waitFor(240, t0), 250ms);
    EXPECT_EQ(pacer.waitFor(1, t0), 2ms) << "1.04 ms rounds up";
    EXPECT_EQ(pacer.waitFor(5000, t0), 500ms) << "a chunk counts as one burst at most";
    EXPECT_EQ(pacer.waitFor(240, t0 + 125ms), 125ms);
    EXPECT_EQ(pacer.waitFor(120, t0 + 125ms), 0ms);
    EXPECT_EQ(pacer.allowance(t0 + 125ms), 120u) << "asking does not spend";
}

}  // namespace

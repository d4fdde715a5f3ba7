// What one client cannot take from the others through snbusd: the line,
// by looping on a unit that never answers.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "daemonFixture.h"

namespace snbusd_test {

namespace {

using Clock = std::chrono::steady_clock;

const Bytes kReadBlock{3, 1, 6, 0, 121};  // a port's receive block, 121 registers
const Bytes kReadSerial{3, 0, 15, 0, 1};  // register 15
constexpr uint8_t kAbsentUnit = 9;        // a unit the node does not answer
constexpr auto kTimeout = 300ms;          // the fixture's --timeout

class BesideADeadUnit : public DaemonTest {
protected:
    // Frames take their real time at 115200: a block holds the line 23 ms.
    BesideADeadUnit() : DaemonTest([](snsim::Options& options) { options.lineTiming = true; }) {}
};

// One client's turns: how many, and the longest it waited for one (from
// the answer before, or from the start; a wait still going at the end counts).
struct Turns {
    int count = 0;
    Clock::duration longest{};
};

Turns loopOn(uint16_t port, uint8_t unit, const Bytes& pdu, const std::atomic<bool>& stop) {
    RawClient client(port);
    Turns turns;
    auto last = Clock::now();
    for (uint16_t id = 0; !stop; ++id) {
        const auto answer = client.ask(unit, pdu, id);
        const auto now = Clock::now();
        turns.longest = std::max(turns.longest, now - last);
        last = now;
        if (!answer) break;
        ++turns.count;
    }
    turns.longest = std::max(turns.longest, Clock::now() - last);
    return turns;
}

double inTimeouts(Clock::duration wait) {
    return std::chrono::duration<double>(wait) / std::chrono::duration<double>(kTimeout);
}

// A unit that never answers holds the line for each request's timeout and
// the probes that settle it.  Charged what it held, a client looping on
// it gets no more than its share: a client streaming blocks beside it
// waits for one such request at most, and gets many blocks per dead turn.
TEST_F(BesideADeadUnit, AStreamerGetsItsBlockAfterOneDeadTurnAtMost) {
    startDaemon();
    std::atomic<bool> stop{false};
    Turns dead, blocks;
    std::thread deadLoop([&] { dead = loopOn(port, kAbsentUnit, kReadSerial, stop); });
    std::this_thread::sleep_for(100ms);  // the dead unit's first turn on the line
    std::thread streamer([&] { blocks = loopOn(port, 1, kReadBlock, stop); });
    std::this_thread::sleep_for(6s);
    stop = true;
    streamer.join();
    deadLoop.join();
    std::printf(
        "beside a dead unit: %d blocks, longest wait %.0f ms (%.2f timeouts); "
        "dead unit %d turns, longest %.0f ms (%.2f timeouts)\n",
        blocks.count, std::chrono::duration<double, std::milli>(blocks.longest).count(),
        inTimeouts(blocks.longest), dead.count,
        std::chrono::duration<double, std::milli>(dead.longest).count(), inTimeouts(dead.longest));
    ASSERT_GT(dead.count, 0) << daemonLog();
    // One dead turn (3.75 timeouts at most, with its probe before and
    // after), the streamer's block and room for a loaded machine.
    EXPECT_LT(inTimeouts(blocks.longest), 5.0);
    EXPECT_GT(blocks.count, 3 * dead.count) << "about half the line, not one block a turn";
}

}  // namespace

}  // namespace snbusd_test

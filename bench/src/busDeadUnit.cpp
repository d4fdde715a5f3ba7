// A client streaming blocks through snbusd beside one looping on a unit
// the node does not answer: the streamer's longest wait for a block.
#include <modbus.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "busDaemonProcess.h"
#include "busRuns.h"
#include "nodeRig.h"

namespace snbench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 300;
constexpr int kAbsentUnit = 9;

struct Loop {
    long turns = 0;
    Clock::duration longest{};
};

// Reads `count` registers at `address` of `unit` until `stop`; a wait
// still going at the end counts.
void readLoop(uint16_t port, int unit, int address, int count, const std::atomic<bool>& stop,
              Loop& loop) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (ctx == nullptr) return;
    modbus_set_slave(ctx, unit);
    modbus_set_response_timeout(ctx, 10, 0);
    uint16_t regs[125];
    auto last = Clock::now();
    if (modbus_connect(ctx) == 0) {
        while (!stop) {
            const bool answered = modbus_read_registers(ctx, address, count, regs) == count;
            const auto now = Clock::now();
            loop.longest = std::max(loop.longest, now - last);
            last = now;
            if (unit != kAbsentUnit && !answered) break;
            ++loop.turns;
        }
    }
    loop.longest = std::max(loop.longest, Clock::now() - last);
    modbus_close(ctx);
    modbus_free(ctx);
}

}  // namespace

BusDeadUnit measureBusDeadUnit(const BusPaths& paths, int baud, double seconds) {
    BusDeadUnit d;
    snsim::Emulator sim(timedNodeOptions(baud));
    sntest::BusDaemonProcess daemon;
    if (!sim.start() ||
        !daemon.start(paths.snbusd, sim.devicePath(), {"--timeout", std::to_string(kTimeoutMs)}))
        return d;
    std::atomic<bool> stop{false};
    Loop dead, blocks;
    std::thread deadLoop(
        [&, port = daemon.port()] { readLoop(port, kAbsentUnit, 15, 1, stop, dead); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // its first turn on the line
    std::thread streamer([&, port = daemon.port()] { readLoop(port, 1, 262, 121, stop, blocks); });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    streamer.join();
    deadLoop.join();
    d.blocks = blocks.turns;
    d.deadTurns = dead.turns;
    d.longestWaitMs = std::chrono::duration<double, std::milli>(blocks.longest).count();
    d.timeoutAndProbeMs = 2.0 * kTimeoutMs;
    d.ok = blocks.turns > 0 && dead.turns > 0;
    return d;
}

}  // namespace snbench

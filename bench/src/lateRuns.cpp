#include "lateRuns.h"

#include <modbus.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "nodeRig.h"
#include "snLib.h"
#include "snline/lineRecovery.h"
#include "snsim/emulator.h"

namespace snbench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kTimeout = 100ms;
constexpr int kThreads = 4;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void setTimeout(SensorNode* node) {
    const timeval tv{0, static_cast<suseconds_t>(kTimeout.count() * 1000)};
    snModbusSetResponseTimeout(node, &tv);
}

// One thread's write-then-read rounds on channel `channel`: `write` and
// `read` move two parameter words; a read that holds a value the thread
// cannot have written counts as wrong.
template <typename Write, typename Read>
void readBackRounds(int channel, int rounds, Write write, Read read, std::atomic<long>& readBacks,
                    std::atomic<long>& wrong) {
    std::mt19937 rng(static_cast<unsigned>(channel));
    std::set<uint16_t> possible;
    for (int i = 0; i < rounds; ++i) {
        const auto value = static_cast<uint16_t>((channel << 12) | (rng() & 0xFFF));
        const uint16_t words[2] = {value, static_cast<uint16_t>(~value)};
        if (write(channel, words)) possible.clear();
        possible.insert(value);
        uint16_t back[2] = {};
        if (!read(channel, back)) continue;
        ++readBacks;
        if (possible.count(back[0]) == 0 || back[1] != static_cast<uint16_t>(~back[0])) {
            ++wrong;
        } else {
            possible = {back[0]};
        }
    }
}

template <typename Write, typename Read>
void inThreads(int rounds, Write write, Read read, long& readBacks, long& wrong) {
    std::atomic<long> backs{0}, bad{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kThreads; ++c)
        threads.emplace_back([&, c] { readBackRounds(c, rounds, write, read, backs, bad); });
    for (auto& t : threads) t.join();
    readBacks = backs;
    wrong = bad;
}

snsim::RandomFaults lateFaults() {
    snsim::RandomFaults faults;
    faults.late = 0.03;
    faults.lateBy = kTimeout * 3 / 2;
    faults.alsoLateBy = kTimeout * 3;
    faults.seed = 3;
    return faults;
}

// Plain libmodbus, as the library was before it kept the line in step: its
// calls, and the rest of a late or torn answer drained after a failure.
void peerRounds(const std::string& device, int perThread, WrongValues& out) {
    modbus_t* ctx = modbus_new_rtu(device.c_str(), 115200, 'N', 8, 1);
    if (ctx == nullptr || modbus_connect(ctx) < 0) return;
    modbus_set_slave(ctx, kSlave);
    modbus_set_response_timeout(ctx, 0, static_cast<uint32_t>(kTimeout.count() * 1000));
    modbus_set_byte_timeout(ctx, 0, 50000);
    std::mutex line;
    auto write = [&](int c, const uint16_t* words) {
        std::lock_guard lock(line);
        return snline::recoverFromLineFailure(
                   ctx, modbus_write_registers(ctx, 47 + 2 * c, 2, words)) > 0;
    };
    auto read = [&](int c, uint16_t* words) {
        std::lock_guard lock(line);
        return snline::recoverFromLineFailure(ctx,
                                              modbus_read_registers(ctx, 47 + 2 * c, 2, words)) > 0;
    };
    inThreads(perThread, write, read, out.peerReadBacks, out.peerWrong);
    modbus_close(ctx);
    modbus_free(ctx);
}

}  // namespace

FailureCost measureFailureCost(int baud, int rounds) {
    FailureCost cost;
    snsim::Emulator sim(timedNodeOptions(baud));
    if (!sim.start()) return cost;
    SensorNode* node = openSensorNode(sim.devicePath().c_str(), 115200, kSlave);
    if (node == nullptr) return cost;
    setTimeout(node);
    std::vector<double> normal, failed, next;
    uint16_t word = 0;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        getSensorNodeModbusTimeout(node, &word);
        normal.push_back(msSince(start));
        // The node drops this one request and answers the probe that
        // settles it, as a node that missed one request does.
        const std::size_t seen = sim.log().size();
        sim.setFault(snsim::Fault::NoAnswer);
        std::thread dropOne([&sim, seen] {
            sim.waitForLog(seen + 1, std::chrono::seconds(5));
            sim.setFault(snsim::Fault::None);
        });
        start = Clock::now();
        const bool failedAsItShould = getSensorNodeModbusTimeout(node, &word) < 0;
        failed.push_back(msSince(start));
        dropOne.join();
        start = Clock::now();
        const bool answered = getSensorNodeModbusTimeout(node, &word) == 0;
        next.push_back(msSince(start));
        if (!failedAsItShould || !answered) return cost;
    }
    closeSensorNode(node);
    cost.ok = true;
    cost.timeoutMs = static_cast<double>(kTimeout.count());
    cost.failedMs = median(failed);
    cost.extraMs = median(next) - median(normal);
    return cost;
}

WrongValues measureWrongValues(int perThread) {
    WrongValues out;
    snsim::Emulator sim(snsim::Options{});
    if (!sim.start()) return out;
    SensorNode* node = openSensorNode(sim.devicePath().c_str(), 115200, kSlave);
    if (node == nullptr) return out;
    setTimeout(node);
    sim.setRandomFaults(lateFaults());
    auto write = [&](int c, const uint16_t* words) {
        return snSetAnalogParms(node, static_cast<uint16_t>(c), 1, words) == 0;
    };
    auto read = [&](int c, uint16_t* words) {
        return snGetAnalogParms(node, static_cast<uint16_t>(c), 1, words) == 0;
    };
    inThreads(perThread, write, read, out.readBacks, out.wrong);
    closeSensorNode(node);                      // frees the device for the peer
    std::this_thread::sleep_for(kTimeout * 4);  // the last late answer has come
    peerRounds(sim.devicePath(), perThread, out);
    out.lateInjected = sim.injectedFaults().late;
    sim.setRandomFaults(snsim::RandomFaults{});
    out.ok = out.readBacks > 0 && out.peerReadBacks > 0;
    return out;
}

}  // namespace snbench

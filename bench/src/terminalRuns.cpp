#include "terminalRuns.h"

#include "nodeRig.h"
#include "terminalProcess.h"
#include "terminalReceive.h"

#include "snsim/emulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace snbench {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void measureIdle(snsim::Emulator& sim, TerminalProcess& term, double seconds, TerminalFigures& f) {
    std::this_thread::sleep_for(milliseconds(500));  // past start-up
    sim.clearLog();
    const double cpu0 = term.cpuSeconds();
    const double sched0 = term.scheduledSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    f.idleSeconds = wall;
    f.idleCpuPercent = 100.0 * (term.cpuSeconds() - cpu0) / wall;
    f.idleSchedPercent = 100.0 * (term.scheduledSeconds() - sched0) / wall;
    f.idlePollsPerSecond = static_cast<double>(sim.log().size()) / wall;
}

// When the function-23 request carrying `key` as its first byte reached
// the node, if it did within a second.
std::optional<Clock::time_point> arrivalOf(const snsim::Emulator& sim, uint8_t key) {
    for (std::size_t n = 1; sim.waitForLog(n, milliseconds(1000)); ++n) {
        const snsim::Transaction t = sim.log().at(n - 1);
        if (t.function == 23 && t.values.size() >= 2 && (t.values[1] >> 8) == key) return t.when;
    }
    return std::nullopt;
}

void measureLatency(snsim::Emulator& sim, TerminalProcess& term, int count, TerminalFigures& f) {
    const std::vector<double> ms = keystrokeLatenciesMs(sim, term, count);
    f.keystrokes = count;
    f.keystrokesSeen = static_cast<int>(ms.size());
    f.latencyMedianMs = percentile(ms, 0.5);
    f.latencyP90Ms = percentile(ms, 0.9);
    f.latencyMaxMs = percentile(ms, 1.0);
}

}  // namespace

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Keystrokes at random moments of the terminal's 20 ms poll cycle.
std::vector<double> keystrokeLatenciesMs(snsim::Emulator& sim, TerminalProcess& term, int count) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> pauseUs(5000, 45000);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
        const auto key = static_cast<uint8_t>('a' + i % 26);
        sim.clearLog();
        const auto typed = Clock::now();
        if (!term.type(key)) break;
        if (const auto at = arrivalOf(sim, key))
            ms.push_back(std::chrono::duration<double, std::milli>(*at - typed).count());
    }
    return ms;
}

TerminalFigures measureTerminal(const std::string& program, int modbusBaud, double idleSeconds,
                                int keystrokes, double receiveSeconds) {
    TerminalFigures f;
    f.modbusBaud = modbusBaud;
    snsim::Emulator sim(timedNodeOptions(modbusBaud));
    if (!sim.start()) return f;
    TerminalProcess term;
    if (!term.start(program, sim.devicePath(), modbusBaud)) return f;
    measureIdle(sim, term, idleSeconds, f);
    measureLatency(sim, term, keystrokes, f);
    measureReceive(sim, term, receiveSeconds, f);
    term.stop();
    sim.stop();
    f.ok = f.keystrokesSeen == f.keystrokes && f.receiveIntact;
    return f;
}

}  // namespace snbench

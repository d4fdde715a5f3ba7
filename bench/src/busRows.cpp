#include <algorithm>

#include "busRuns.h"
#include "scenarios.h"

namespace snbench {

namespace {

constexpr int kBaud = 115200;
constexpr int kClients = 8;

Row ratioRow(const char* key, const std::string& scenario, double measured, double reference,
             const char* unit, const char* against, const char* goal) {
    Row r = measuredRow(key, scenario, kBaud, measured, reference, unit, against);
    r.goal = goal;
    return r;
}

void throughputRows(const Plan& plan, std::vector<Row>& rows) {
    const std::size_t bytes = plan.quick ? 8 * 1024 : 64 * 1024;
    const BusThroughput t = measureBusThroughput(plan.programs, kBaud, bytes);
    if (t.directWrite == 0) return;
    rows.push_back(ratioRow(
        "bus_write", fmt("snSerWrite %.0f KiB through snbusd", static_cast<double>(bytes) / 1024.0),
        t.busWrite, t.directWrite, "B/s", "direct", ">= 0.97"));
    rows.push_back(ratioRow(
        "bus_read", fmt("snSerRead %.0f KiB through snbusd", static_cast<double>(bytes) / 1024.0),
        t.busRead, t.directRead, "B/s", "direct", ">= 0.97"));
    if (!t.ok) rows.back().note = "DATA NOT INTACT";
}

void sharingRow(const Plan& plan, std::vector<Row>& rows) {
    const BusSharing s = measureBusSharing(plan.programs, kBaud, kClients, plan.quick ? 3.0 : 10.0);
    if (!s.ok) return;
    double lowest = 1, highest = 0;
    for (const double share : s.shares) {
        lowest = std::min(lowest, share * kClients);
        highest = std::max(highest, share * kClients);
    }
    Row r = ratioRow("bus_shared", fmt("%.0f clients reading blocks through snbusd", kClients),
                     s.transactionsPerSecond, s.lineLimit, "tx/s", "line limit", ">= 0.97");
    r.note = fmt("each client %.2f to %.2f of an even share (goal 0.80 to 1.20)", lowest, highest);
    rows.push_back(r);
}

void keystrokeRow(const Plan& plan, std::vector<Row>& rows) {
    const BusKeystrokes k = measureBusKeystrokes(plan.programs, kBaud, plan.quick ? 30 : 200);
    if (k.keystrokes == 0) return;
    Row r = ratioRow("bus_key_latency", "snterm keystroke through snbusd, bridge streaming, p99",
                     k.p99Ms, k.goalMs, "ms", "block + key transaction", "< 1");
    r.note = fmt("median %.2f ms, max %.2f ms", k.medianMs, k.maxMs) +
             fmt("; %.0f of %.0f keys seen", k.seen, k.keystrokes);
    rows.push_back(r);
}

void deadUnitRow(const Plan& plan, std::vector<Row>& rows) {
    const BusDeadUnit d = measureBusDeadUnit(plan.programs, kBaud, plan.quick ? 3.0 : 8.0);
    if (!d.ok) return;
    Row r = ratioRow("bus_dead_unit", "streamer beside a dead unit, longest wait for a block",
                     d.longestWaitMs, d.timeoutAndProbeMs, "ms", "timeout and probe", "< 1");
    r.note = fmt("%.0f blocks", static_cast<double>(d.blocks)) +
             fmt(", %.0f turns of the client looping on the dead unit",
                 static_cast<double>(d.deadTurns));
    rows.push_back(r);
}

void idleRow(const Plan& plan, std::vector<Row>& rows) {
    const BusIdle idle = measureBusIdle(plan.programs, plan.quick ? 2.0 : 10.0);
    if (!idle.ok) return;
    Row r = ratioRow("bus_idle_cpu", fmt("snbusd idle %.0f s, CPU of one core", idle.seconds),
                     idle.cpuPercent, 0.5, "%", "goal", "< 1");
    r.note = fmt("utime+stime; schedstat says %.3f %%", idle.schedPercent);
    rows.push_back(r);
}

}  // namespace

std::vector<Row> busRows(const Plan& plan) {
    std::vector<Row> rows;
    throughputRows(plan, rows);
    sharingRow(plan, rows);
    keystrokeRow(plan, rows);
    deadUnitRow(plan, rows);
    idleRow(plan, rows);
    return rows;
}

}  // namespace snbench

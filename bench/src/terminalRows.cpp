#include "lineLimit.h"
#include "scenarios.h"
#include "terminalRuns.h"

namespace snbench {

namespace {

constexpr double kIdleGoalPercent = 1.0;
constexpr double kLatencyGoalMs = 5.0;
constexpr double kReceiveGoal = 0.90;  // of the line limit

// What the Modbus line carries in receive blocks at `baud`, in B/s.
double receiveLineLimit(int baud) {
    const std::size_t bytes = 1000 * kBlockBytes;
    return static_cast<double>(bytes) / readLineSeconds(bytes, baud);
}

}  // namespace

std::vector<Row> terminalRows(const Plan& plan) {
    const int baud = 115200;
    const TerminalFigures f = measureTerminal(plan.programs.snterm, baud, plan.quick ? 2.0 : 10.0,
                                              plan.quick ? 20 : 200, plan.quick ? 2.0 : 8.0);
    if (f.idleSeconds == 0) return {};
    std::vector<Row> rows;
    Row idle =
        measuredRow("snterm_idle_cpu", fmt("snterm idle %.0f s, CPU of one core", f.idleSeconds),
                    baud, f.idleCpuPercent, kIdleGoalPercent, "%", "goal");
    idle.goal = "< 1";
    idle.note = fmt("utime+stime from /proc/PID/stat; schedstat says %.3f %%; %.1f polls/s",
                    f.idleSchedPercent, f.idlePollsPerSecond);
    rows.push_back(idle);
    Row lat = measuredRow("snterm_key_latency", "snterm keystroke to node, median", baud,
                          f.latencyMedianMs, kLatencyGoalMs, "ms", "goal");
    lat.goal = "< 1";
    lat.note = fmt("p90 %.2f ms, max %.2f ms", f.latencyP90Ms, f.latencyMaxMs) +
               fmt("; %.0f of %.0f keys seen", f.keystrokesSeen, f.keystrokes);
    rows.push_back(lat);
    Row rx = measuredRow("snterm_receive", "snterm receive, node streaming", baud,
                         f.receiveBytesPerSecond, receiveLineLimit(baud), "B/s", "line limit");
    rx.goal = fmt(">= %.2f", kReceiveGoal);
    rx.note = fmt("%.0f s window", f.receiveSeconds);
    if (!f.receiveIntact) rx.note += "; STREAM NOT INTACT";
    rows.push_back(rx);
    return rows;
}

}  // namespace snbench

#include "latePortRuns.h"
#include "lateRuns.h"
#include "scenarios.h"

namespace snbench {

namespace {

// Throughput while the node is not silent, against the same transfer on a
// line without faults; bytes lost and repeated in the note.
Row portStreamRow(const LatePortStream& s) {
    const double bytes = static_cast<double>(s.bytes);
    Row r = measuredRow("late_port_stream",
                        "port both ways at once, 3 % of its answers 900 ms late, less the silence",
                        115200, bytes / (s.seconds - s.silentSeconds), bytes / s.faultFreeSeconds,
                        "B/s", "fault-free line");
    r.goal = ">= 0.90; 0 lost, 0 repeated";
    r.note = fmt("%.0f bytes lost and %.0f repeated", static_cast<double>(s.lost),
                 static_cast<double>(s.repeated)) +
             fmt(" of %.0f; %.0f answers late", bytes, static_cast<double>(s.lateAnswers)) +
             fmt(" (%.1f s silent) in %.1f s", s.silentSeconds, s.seconds) +
             fmt(", without faults %.1f s", s.faultFreeSeconds);
    return r;
}

// A late answer settled within its call, against when the node answered.
Row settledCallRow(const SettledCall& c) {
    Row r = measuredRow("settled_late_call",
                        "snSerRead of a block answered 900 ms late, settled in the call", 115200,
                        c.readMs, c.readNodeMs, "ms", "the node's answer");
    r.goal = "<= 1.05";
    r.note = fmt("median of %.0f; snSerWrite of a chunk likewise %.1f ms",
                 static_cast<double>(c.rounds), c.writeMs) +
             fmt(" against %.1f ms (%.3f)", c.writeNodeMs, c.writeMs / c.writeNodeMs);
    return r;
}

}  // namespace

std::vector<Row> lateRows(const Plan& plan) {
    std::vector<Row> rows;
    const FailureCost cost = measureFailureCost(115200, plan.quick ? 3 : 15);
    if (cost.ok) {
        Row r = measuredRow("failed_transaction_cost",
                            "a request the node drops, settled before the call returns, and the "
                            "next call's extra",
                            115200, cost.failedMs + cost.extraMs, cost.timeoutMs, "ms",
                            "response timeout");
        r.goal = "<= 1.05";
        r.note = fmt("failed call %.1f ms with its probe, next call's extra %.2f ms", cost.failedMs,
                     cost.extraMs);
        rows.push_back(r);
    }
    const WrongValues w = measureWrongValues(plan.quick ? 50 : 250);
    if (w.ok) {
        const double ours = 100.0 * static_cast<double>(w.wrong) / static_cast<double>(w.readBacks);
        const double peer =
            100.0 * static_cast<double>(w.peerWrong) / static_cast<double>(w.peerReadBacks);
        Row r = measuredRow("late_wrong_values",
                            "4 threads reading back their own writes, 3 % of answers late", 0, ours,
                            peer, "% wrong", "plain libmodbus");
        r.goal = "0 wrong";
        r.note = fmt("library %.0f wrong of %.0f read-backs", static_cast<double>(w.wrong),
                     static_cast<double>(w.readBacks)) +
                 fmt("; libmodbus %.0f wrong of %.0f", static_cast<double>(w.peerWrong),
                     static_cast<double>(w.peerReadBacks));
        rows.push_back(r);
    }
    const LatePortStream stream = measureLatePortStream(plan.quick ? 8 * 1024 : 32 * 1024);
    if (stream.ok) rows.push_back(portStreamRow(stream));
    const SettledCall settled = measureSettledCall(plan.quick ? 2 : 5);
    if (settled.ok) rows.push_back(settledCallRow(settled));
    return rows;
}

}  // namespace snbench

#include "lateRuns.h"
#include "scenarios.h"

namespace snbench {

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
    return rows;
}

}  // namespace snbench

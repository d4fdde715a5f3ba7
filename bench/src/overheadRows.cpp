#include "bareLink.h"
#include "lineLimit.h"
#include "nodeRig.h"
#include "overheadRuns.h"
#include "scenarios.h"

namespace snbench {

namespace {

constexpr double kOverheadGoal = 1.05;

Row overheadRow(const char* key, const char* what, const Comparison& c) {
    Row row;
    row.key = key;
    row.scenario = fmt(what, static_cast<double>(c.transactions));
    row.measured = c.libUs;
    row.reference = c.bareUs;
    row.unit = "us/transaction";
    row.against = "bare libmodbus";
    row.ratio = c.bareUs > 0 ? c.libUs / c.bareUs : 0;
    row.goal = fmt("<= %.2f", kOverheadGoal);
    row.note = fmt("median of %.0f rounds; caller CPU %.1f", c.rounds, c.libCpuUs) +
               fmt(" vs %.1f us/transaction", c.bareCpuUs);
    if (!c.intact) row.note += "; DATA NOT INTACT";
    return row;
}

}  // namespace

std::vector<Row> overheadRows(const Plan& plan) {
    std::vector<Row> rows;
    NodeRig rig;
    BareLink bare;
    if (!rig.start() || !bare.open(rig.device(), kSlave)) return rows;
    // 273 full blocks: 64 KiB less 16 bytes, so both sides make the very
    // same transactions.
    const std::size_t blocks = (64 * 1024) / kBlockBytes;
    const int rounds = plan.quick ? 3 : 15;
    const Comparison w = compareWrites(rig, bare, blocks, rounds);
    rows.push_back(
        overheadRow("write_vs_libmodbus", "snSerWrite of %.0f blocks, no line timing", w));
    const Comparison r = compareReads(rig, bare, blocks, rounds);
    rows.push_back(overheadRow("read_vs_libmodbus", "snSerRead of %.0f blocks, no line timing", r));
    return rows;
}

}  // namespace snbench

#include "scenarios.h"

#include "line_limit.h"
#include "node_rig.h"
#include "transfer_runs.h"

#include <cstdio>

namespace snbench {

namespace {

constexpr double kLineGoal = 0.97;
constexpr std::size_t kKiB = 1024;

// Speeds of the sweep and the payload moved at each: 64 KiB where the line
// carries it in seconds, 16 KiB at the slow end to keep the run short.
struct Speed {
    int baud;
    std::size_t bytes;
};

std::vector<Speed> sweep(bool quick) {
    const std::size_t big = quick ? 8 * kKiB : 64 * kKiB;
    const std::size_t small = quick ? 2 * kKiB : 16 * kKiB;
    return {{9600, small}, {19200, small}, {38400, small},
            {57600, small}, {115200, big},  {230400, big}};
}

Row lineRow(const char* dir, int baud, const TransferResult& r, double lineSeconds) {
    Row row;
    row.key = std::string(dir) + "_line";
    row.baud = baud;
    row.scenario = fmt("snSerWrite %.0f KiB, line timing at %.0f", static_cast<double>(r.bytes) / kKiB, baud);
    if (std::string(dir) == "read")
        row.scenario = fmt("snSerRead %.0f KiB in 240 B reads, line timing at %.0f", static_cast<double>(r.bytes) / kKiB, baud);
    row.measured = r.bytesPerSecond();
    row.reference = static_cast<double>(r.bytes) / lineSeconds;
    row.unit = "B/s";
    row.against = "line limit";
    row.ratio = row.measured / row.reference;
    row.goal = fmt(">= %.2f", kLineGoal);
    const double excessUs = (r.seconds - lineSeconds) * 1e6 / static_cast<double>(r.transactions);
    row.note = fmt("%.0f transactions, %+.0f us each beyond the line", static_cast<double>(r.transactions), excessUs);
    if (!r.intact) row.note += "; DATA NOT INTACT";
    return row;
}

}  // namespace

std::vector<Row> lineLimitRows(const Plan& plan) {
    std::vector<Row> rows;
    NodeRig rig;
    if (!rig.start()) return rows;
    for (const Speed& s : sweep(plan.quick)) {
        rig.setLineSpeed(s.baud);
        const TransferResult w = timedWrite(rig, s.bytes, true);
        rows.push_back(lineRow("write", s.baud, w, writeLineSeconds(s.bytes, s.baud)));
        const TransferResult r = timedRead(rig, s.bytes);
        rows.push_back(lineRow("read", s.baud, r, readLineSeconds(s.bytes, s.baud)));
        std::fprintf(stderr, "snbench: line timing at %d done\n", s.baud);
    }
    return rows;
}

}  // namespace snbench

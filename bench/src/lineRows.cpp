#include "scenarios.h"

#include "bareLink.h"
#include "bareRuns.h"
#include "lineLimit.h"
#include "nodeRig.h"
#include "transferRuns.h"

#include <cstdio>
#include <string>

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
    return {{9600, small},  {19200, small}, {38400, small},
            {57600, small}, {115200, big},  {230400, big}};
}

// `blockLine`: line time of one full-block transaction, for the median.
Row lineRow(const std::string& key, const std::string& scenario, int baud, const TransferResult& r,
            double lineSeconds, double blockLine) {
    Row row;
    row.key = key;
    row.baud = baud;
    row.scenario = scenario + fmt(", line timing at %.0f", baud);
    row.measured = r.bytesPerSecond();
    row.reference = static_cast<double>(r.bytes) / lineSeconds;
    row.unit = "B/s";
    row.against = "line limit";
    row.ratio = row.measured / row.reference;
    row.goal = fmt(">= %.2f", kLineGoal);
    const double excessUs = (r.seconds - lineSeconds) * 1e6 / static_cast<double>(r.transactions);
    row.note = fmt("%.0f transactions; beyond the line: %+.0f us each on average",
                   static_cast<double>(r.transactions), excessUs) +
               fmt(", median %+.0f us", (r.medianCycle - blockLine) * 1e6);
    if (!r.intact) row.note += "; DATA NOT INTACT";
    return row;
}

double writeBlockLine(int baud) { return writeTransactionChars(kBlockBytes) * charSeconds(baud); }
double readBlockLine(int baud) { return readTransactionChars(kBlockBytes) * charSeconds(baud); }

double kib(std::size_t bytes) { return static_cast<double>(bytes) / kKiB; }

void libraryAt(NodeRig& rig, const Speed& s, std::vector<Row>& rows) {
    rig.setLineSpeed(s.baud);
    const TransferResult w = timedWrite(rig, s.bytes, true);
    rows.push_back(lineRow("write_line", fmt("snSerWrite %.0f KiB", kib(s.bytes)), s.baud, w,
                           writeLineSeconds(w.bytes, s.baud), writeBlockLine(s.baud)));
    const TransferResult r = timedRead(rig, s.bytes);
    rows.push_back(lineRow("read_line", fmt("snSerRead %.0f KiB in 240 B reads", kib(s.bytes)),
                           s.baud, r, readLineSeconds(r.bytes, s.baud), readBlockLine(s.baud)));
}

// The same transactions without the library: what the emulated line lets
// any master reach, so the library's share of a shortfall shows.
void bareAt(NodeRig& rig, BareLink& bare, int baud, std::size_t blocks, std::vector<Row>& rows) {
    rig.setLineSpeed(baud);
    const std::size_t bytes = blocks * kBlockBytes;
    const TransferResult w = timedBareWrite(rig, bare, bytes);
    rows.push_back(lineRow("write_line_bare",
                           fmt("bare libmodbus fn 23, %.0f blocks", static_cast<double>(blocks)),
                           baud, w, writeLineSeconds(w.bytes, baud), writeBlockLine(baud)));
    const TransferResult r = timedBareRead(rig, bare, bytes);
    rows.push_back(lineRow("read_line_bare",
                           fmt("bare libmodbus fn 03, %.0f blocks", static_cast<double>(blocks)),
                           baud, r, readLineSeconds(r.bytes, baud), readBlockLine(baud)));
}

}  // namespace

std::vector<Row> lineLimitRows(const Plan& plan) {
    std::vector<Row> rows;
    NodeRig rig;
    BareLink bare;
    if (!rig.start() || !bare.open(rig.device(), kSlave)) return rows;
    for (const Speed& s : sweep(plan.quick)) {
        libraryAt(rig, s, rows);
        std::fprintf(stderr, "snbench: line timing at %d done\n", s.baud);
    }
    const std::size_t blocks = plan.quick ? 20 : 68;  // 68 blocks: 16 KiB less 64 bytes
    for (const int baud : {115200, 230400}) bareAt(rig, bare, baud, blocks, rows);
    return rows;
}

}  // namespace snbench

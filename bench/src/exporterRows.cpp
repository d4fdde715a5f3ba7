#include "exporterRuns.h"
#include "scenarios.h"

namespace snbench {

namespace {

constexpr int kBaud = 115200;
constexpr double kGoalMs = 100;

void probeRow(const char* key, const char* how, const ProbeFigures& f, double lineMs,
              std::vector<Row>& rows) {
    if (!f.ok) return;
    Row r =
        measuredRow(key, std::string("snctl exporter: one probe of one node ") + how + ", median",
                    kBaud, f.medianMs, kGoalMs, "ms", "goal");
    r.goal = "< 1";
    r.note = fmt("%.0f transactions a probe (line time %.1f ms)", f.transactions, lineMs) +
             fmt("; exporter's own figure %.1f ms, max %.1f ms", f.reportedMs, f.maxMs) +
             fmt("; first probe, with the open, %.1f ms; %.0f probes", f.firstMs, f.probes);
    rows.push_back(r);
}

}  // namespace

std::vector<Row> exporterRows(const Plan& plan) {
    std::vector<Row> rows;
    const ExporterProbes p = measureExporterProbes(plan.programs, kBaud, plan.quick ? 5 : 30);
    probeRow("exporter_probe", "directly", p.direct, p.lineMs, rows);
    probeRow("exporter_probe_bus", "through snbusd", p.bus, p.lineMs, rows);
    return rows;
}

}  // namespace snbench

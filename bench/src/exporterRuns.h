// Figures of `snctl exporter`: one probe of one node with line timing,
// directly and through snbusd.
#pragma once

#include "busRuns.h"

namespace snbench {

struct ProbeFigures {
    bool ok = false;
    double medianMs = 0, maxMs = 0;  // a probe's whole HTTP exchange, node already open
    double firstMs = 0;              // the first probe, with the node's open
    double reportedMs = 0;           // sn_probe_duration_seconds, median
    double transactions = 0;         // the node saw per probe, on average
    int probes = 0;
};

struct ExporterProbes {
    ProbeFigures direct, bus;
    double lineMs = 0;  // what a probe's reads take on the line alone
};

ExporterProbes measureExporterProbes(const BusPaths& paths, int baud, int probes);

}  // namespace snbench

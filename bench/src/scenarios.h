// The benchmark's scenarios, each turned into rows of the one table.
#pragma once

#include "busRuns.h"
#include "report.h"

#include <string>
#include <vector>

namespace snbench {

struct Plan {
    bool quick = false;  // smaller transfers and shorter waits, for a smoke run
    BusPaths programs;   // the programs the scenarios start
};

// Library throughput with line timing, at every measured Modbus speed.
std::vector<Row> lineLimitRows(const Plan& plan);
// The library against bare libmodbus, without line timing.
std::vector<Row> overheadRows(const Plan& plan);
// The real terminal: idle CPU, keystroke latency, receive throughput.
std::vector<Row> terminalRows(const Plan& plan);

// snbusd between clients and the node: throughput, sharing, latency, idle.
std::vector<Row> busRows(const Plan& plan);

// snctl exporter: one probe of one node, directly and through snbusd.
std::vector<Row> exporterRows(const Plan& plan);
// What a failed transaction costs, values read back under late answers, a
// port streaming under late answers and a late answer settled in its call.
std::vector<Row> lateRows(const Plan& plan);

}  // namespace snbench

// The benchmark's one table and its CSV twin.
#pragma once

#include <string>
#include <vector>

namespace snbench {

// One measured figure set against what bounds it or what it is compared to.
struct Row {
    std::string key;       // stable name for scripts, e.g. "write_lt"
    std::string scenario;  // what was measured, for people
    int baud = 0;          // Modbus line speed of the run (0: not timed)
    double measured = 0;
    double reference = 0;  // line limit, baseline, bound or goal
    std::string unit;      // unit of measured and reference
    std::string against;   // what the reference is
    double ratio = 0;      // measured against reference, as the goal reads it
    std::string goal;      // e.g. ">= 0.97"; empty when only reported
    std::string note;
};

// A row of a measured figure against its reference, the ratio between them.
Row measuredRow(const std::string& key, const std::string& scenario, int baud, double measured,
                double reference, const std::string& unit, const std::string& against);

// printf-style text of up to two numbers, for the scenario and note cells.
std::string fmt(const char* format, double a, double b = 0);

void printTable(const std::vector<Row>& rows);
bool writeCsv(const std::vector<Row>& rows, const std::string& path);

}  // namespace snbench

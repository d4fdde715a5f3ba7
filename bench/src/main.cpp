// snbench: measures the library and the terminal against the emulated node
// and prints one table (and writes it as CSV for the plot).
//   snbench [--csv PATH] [--snterm PATH] [--quick] [--only
//   line|overhead|terminal|bus|exporter|late]
#include "report.h"
#include "scenarios.h"

#include "snLib.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Args {
    snbench::Plan plan{false, {SNBENCH_SNBUSD, SNBENCH_SNTERM, SNBENCH_SNCTL}};
    std::string csv = "results.csv";
    std::string only;  // one group of scenarios, or all
    bool ok = true;
};

Args parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--quick") == 0)
            a.plan.quick = true;
        else if (std::strcmp(argv[i], "--csv") == 0 && hasValue)
            a.csv = argv[++i];
        else if (std::strcmp(argv[i], "--only") == 0 && hasValue)
            a.only = argv[++i];
        else if (std::strcmp(argv[i], "--snterm") == 0 && hasValue)
            a.plan.programs.snterm = argv[++i];
        else
            a.ok = false;
    }
    return a;
}

void append(std::vector<snbench::Row>& all, const std::vector<snbench::Row>& more,
            const char* what) {
    if (more.empty()) std::fprintf(stderr, "snbench: %s: no figures (see above)\n", what);
    all.insert(all.end(), more.begin(), more.end());
}

}  // namespace

int main(int argc, char** argv) {
    const Args args = parse(argc, argv);
    if (!args.ok) {
        std::fprintf(stderr,
                     "usage: snbench [--csv PATH] [--snterm PATH] [--quick] [--only "
                     "line|overhead|terminal|bus|exporter|late]\n");
        return 2;
    }
    initSensorNodeLib();
    std::vector<snbench::Row> rows;
    const auto wanted = [&](const char* group) { return args.only.empty() || args.only == group; };
    if (wanted("line")) append(rows, snbench::lineLimitRows(args.plan), "line limit");
    if (wanted("overhead"))
        append(rows, snbench::overheadRows(args.plan), "library against libmodbus");
    if (wanted("terminal")) append(rows, snbench::terminalRows(args.plan), "terminal");
    if (wanted("bus")) append(rows, snbench::busRows(args.plan), "bus daemon");
    if (wanted("late")) append(rows, snbench::lateRows(args.plan), "late answers");
    if (wanted("exporter")) append(rows, snbench::exporterRows(args.plan), "exporter");
    snbench::printTable(rows);
    if (!snbench::writeCsv(rows, args.csv)) {
        std::fprintf(stderr, "snbench: cannot write %s\n", args.csv.c_str());
        return 1;
    }
    return rows.empty() ? 1 : 0;
}

#include "report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace snbench {

Row measuredRow(const std::string& key, const std::string& scenario, int baud, double measured,
                double reference, const std::string& unit, const std::string& against) {
    Row r;
    r.key = key;
    r.scenario = scenario;
    r.baud = baud;
    r.measured = measured;
    r.reference = reference;
    r.unit = unit;
    r.against = against;
    r.ratio = reference > 0 ? measured / reference : 0;
    return r;
}

namespace {

std::string number(double v) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(v >= 100 ? 0 : v >= 10 ? 1 : v >= 1 ? 2 : 3) << v;
    return s.str();
}

std::array<std::string, 6> cells(const Row& r) {
    std::ostringstream ratio;
    ratio << std::fixed << std::setprecision(3) << r.ratio;
    return {r.scenario,
            number(r.measured) + " " + r.unit,
            number(r.reference) + " " + r.unit + " (" + r.against + ")",
            ratio.str(),
            r.goal,
            r.note};
}

// CSV fields never hold quotes; commas inside are quoted.
std::string field(const std::string& s) {
    return s.find(',') == std::string::npos ? s : "\"" + s + "\"";
}

}  // namespace

std::string fmt(const char* format, double a, double b) {
    char buf[200];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

void printTable(const std::vector<Row>& rows) {
    const std::array<std::string, 6> head{"scenario", "measured", "limit or baseline",
                                          "ratio",    "goal",     "note"};
    std::array<std::size_t, 6> width{};
    for (std::size_t i = 0; i < head.size(); ++i) width[i] = head[i].size();
    for (const Row& r : rows) {
        const auto c = cells(r);
        for (std::size_t i = 0; i < c.size(); ++i) width[i] = std::max(width[i], c[i].size());
    }
    auto line = [&](const std::array<std::string, 6>& c) {
        std::string out = "|";
        for (std::size_t i = 0; i < c.size(); ++i)
            out += " " + c[i] + std::string(width[i] - c[i].size(), ' ') + " |";
        std::puts(out.c_str());
    };
    line(head);
    std::array<std::string, 6> rule;
    for (std::size_t i = 0; i < rule.size(); ++i) rule[i] = std::string(width[i], '-');
    line(rule);
    for (const Row& r : rows) line(cells(r));
    std::fflush(stdout);
}

bool writeCsv(const std::vector<Row>& rows, const std::string& path) {
    std::ofstream out(path);
    if (!out) return false;
    out << "key,scenario,baud,measured,reference,unit,against,ratio,goal,note\n";
    out << std::setprecision(10);
    for (const Row& r : rows)
        out << r.key << ',' << field(r.scenario) << ',' << r.baud << ',' << r.measured << ','
            << r.reference << ',' << field(r.unit) << ',' << field(r.against) << ',' << r.ratio
            << ',' << field(r.goal) << ',' << field(r.note) << '\n';
    return static_cast<bool>(out);
}

}  // namespace snbench

#include "scanOptions.h"

#include "failure.h"
#include "namedOptions.h"
#include "numberParsing.h"
#include "snLimits.h"

#include <set>

namespace snctl {

namespace {

const char* const kUsage = "scan [--slaves LIST] [--timeout MS]";
constexpr long kLongestTimeout = 60000;

int slaveNumber(const std::string& text) {
    return static_cast<int>(
        requireInteger(text, SN_MIN_SLAVE, SN_MAX_SLAVE, "scan: slave address"));
}

void addItem(std::set<int>& slaves, const std::string& item) {
    const auto dash = item.find('-');
    if (dash == std::string::npos) {
        slaves.insert(slaveNumber(item));
        return;
    }
    const int first = slaveNumber(item.substr(0, dash));
    const int last = slaveNumber(item.substr(dash + 1));
    if (last < first) throw UsageError("scan: range " + item + " runs backwards");
    for (int slave = first; slave <= last; ++slave) slaves.insert(slave);
}

void applyOption(ScanOptions& options, const std::string& name, const std::string& value) {
    if (name == "--slaves") {
        options.slaves = parseSlaveList(value);
    } else if (name == "--timeout") {
        options.timeout =
            std::chrono::milliseconds(requireInteger(value, 1, kLongestTimeout, "scan: timeout"));
    } else {
        throw UsageError("scan: unknown option '" + name + "' (expected " + kUsage + ")");
    }
}

}  // namespace

std::vector<int> parseSlaveList(const std::string& list) {
    std::set<int> slaves;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        addItem(slaves, list.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return {slaves.begin(), slaves.end()};
}

std::string describeSlaveList(const std::vector<int>& slaves) {
    std::string text;
    for (std::size_t i = 0; i < slaves.size();) {
        std::size_t last = i;
        while (last + 1 < slaves.size() && slaves[last + 1] == slaves[last] + 1) ++last;
        text += (text.empty() ? "" : ",") + std::to_string(slaves[i]);
        if (last > i) text += "-" + std::to_string(slaves[last]);
        i = last + 1;
    }
    return text;
}

ScanOptions parseScanOptions(const std::vector<std::string>& args) {
    ScanOptions options;
    for (int slave = SN_MIN_SLAVE; slave <= SN_MAX_SLAVE; ++slave) options.slaves.push_back(slave);
    for (const NamedOption& option : namedOptions(args, "scan", kUsage))
        applyOption(options, option.name, option.value);
    return options;
}

}  // namespace snctl

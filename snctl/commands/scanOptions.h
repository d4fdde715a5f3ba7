// Arguments of "scan [--slaves LIST] [--timeout MS]".
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace snctl {

struct ScanOptions {
    std::vector<int> slaves;  // ascending, each once
    std::chrono::milliseconds timeout{100};
};

// Throws UsageError naming what was expected.
// The list as a user writes it: ascending, runs as ranges ("1,3-5").
std::string describeSlaveList(const std::vector<int>& slaves);

ScanOptions parseScanOptions(const std::vector<std::string>& args);

// "1-247", "1,5,10-20": addresses and ranges, 1 to 247; ascending, each
// once.  Throws UsageError for anything else.
std::vector<int> parseSlaveList(const std::string& list);

}  // namespace snctl

// "NAME=DEVICE[,slave=N][,baud=B]": one node a long-running program serves
// by name (the exporter's targets, snweb's).  DEVICE is a serial device
// (COM names translated) or "tcp:HOST:PORT" through the bus daemon.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sncommon {

struct NodeTarget {
    std::string name;    // letters, digits, '.', '_', '-': safe in URLs, labels and HTML
    std::string device;  // serial device or tcp:HOST:PORT
    int slave = 1;
    int baud = 115200;
};

// What is wrong with a target, as a sentence without the program's name.
class TargetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kLongestTargetName = 64;

// Throws TargetError.
NodeTarget parseNodeTarget(std::string_view text);

// Throws TargetError for a name or a node (device and slave) already in
// `targets`, or for more than `most` targets.
void checkDistinctTarget(const std::vector<NodeTarget>& targets, const NodeTarget& added,
                         std::size_t most);

// Parses `text` and adds it to `targets` when it is distinct (both as above).
void addNodeTarget(std::vector<NodeTarget>& targets, std::string_view text, std::size_t most);

}  // namespace sncommon

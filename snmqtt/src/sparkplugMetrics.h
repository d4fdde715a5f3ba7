// What an edge node and each of its devices report over Sparkplug B: the
// metrics' names, aliases and datatypes, and their values read from a
// node's status.  Aliases are unique across the whole edge node, as hosts
// keep one alias table for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "nodePoller.h"

namespace snmqtt {

// Sparkplug B's datatype numbers, for the types we send.
enum class SparkplugType : uint32_t { UInt16 = 6, UInt32 = 7, UInt64 = 8, Boolean = 11 };

// One value as it goes into a payload.
struct MetricValue {
    std::string name;  // empty: left out (data messages go by alias)
    std::optional<uint64_t> alias;
    SparkplugType type = SparkplugType::UInt16;
    uint64_t value = 0;      // a Boolean's is 0 or 1
    uint64_t timestamp = 0;  // milliseconds since the epoch
};

// The edge node's own metrics.
inline constexpr std::string_view kBdSeqName = "bdSeq";
inline constexpr std::string_view kRebirthName = "Node Control/Rebirth";
inline constexpr uint64_t kBdSeqAlias = 1;
inline constexpr uint64_t kRebirthAlias = 2;

// A device's metrics, numbered in the order of its DBIRTH: Power/0-3,
// Analog/0-7, then the properties.
inline constexpr std::size_t kPowerMetrics = 4;
inline constexpr std::size_t kAnalogMetrics = 8;
inline constexpr std::size_t kFirstAnalogMetric = kPowerMetrics;
inline constexpr std::size_t kFirstPropertyMetric = kFirstAnalogMetric + kAnalogMetrics;
inline constexpr std::size_t kDeviceMetrics = kFirstPropertyMetric + 5 + 2 * kAnalogMetrics;

const std::string& deviceMetricName(std::size_t metric);
SparkplugType deviceMetricType(std::size_t metric);
// Unique for every device of the edge node (device: its index among them).
uint64_t deviceMetricAlias(std::size_t device, std::size_t metric);
// The metric of `device` an alias or a name stands for; nothing for none.
std::optional<std::size_t> deviceMetricOfAlias(std::size_t device, uint64_t alias);
std::optional<std::size_t> deviceMetricNamed(std::string_view name);
// The output a metric switches; nothing for a metric that cannot be written.
std::optional<int> writableOutput(std::size_t metric);

// The metric's value as last read from the node.
uint64_t deviceMetricValue(const snpoll::NodeStatus& status, std::size_t metric);

}  // namespace snmqtt

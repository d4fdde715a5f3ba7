#include "sparkplugMetrics.h"

#include <array>

namespace snmqtt {

namespace {

// Each device's aliases in a block of its own, above the edge node's.
constexpr uint64_t kAliasBlock = 256;

constexpr std::size_t kSerialMetric = kFirstPropertyMetric;
constexpr std::size_t kRevisionMetric = kFirstPropertyMetric + 1;
constexpr std::size_t kBoardMetric = kFirstPropertyMetric + 2;
constexpr std::size_t kHwConfigMetric = kFirstPropertyMetric + 3;
constexpr std::size_t kTimeoutMetric = kFirstPropertyMetric + 4;
constexpr std::size_t kFirstParameterMetric = kFirstPropertyMetric + 5;

std::array<std::string, kDeviceMetrics> makeNames() {
    std::array<std::string, kDeviceMetrics> names;
    for (std::size_t o = 0; o < kPowerMetrics; ++o) names[o] = "Power/" + std::to_string(o);
    for (std::size_t c = 0; c < kAnalogMetrics; ++c)
        names[kFirstAnalogMetric + c] = "Analog/" + std::to_string(c);
    names[kSerialMetric] = "Properties/Serial Number";
    names[kRevisionMetric] = "Properties/Software Revision";
    names[kBoardMetric] = "Properties/Board Config";
    names[kHwConfigMetric] = "Properties/Hardware Config";
    names[kTimeoutMetric] = "Properties/Device Timeout";
    for (std::size_t w = 0; w < 2 * kAnalogMetrics; ++w)
        names[kFirstParameterMetric + w] =
            "Properties/Analog " + std::to_string(w / 2) + " Parameters/" + std::to_string(w % 2);
    return names;
}

const std::array<std::string, kDeviceMetrics>& names() {
    static const std::array<std::string, kDeviceMetrics> made = makeNames();
    return made;
}

}  // namespace

const std::string& deviceMetricName(std::size_t metric) { return names().at(metric); }

SparkplugType deviceMetricType(std::size_t metric) {
    if (metric < kPowerMetrics) return SparkplugType::Boolean;
    if (metric == kBoardMetric) return SparkplugType::UInt32;
    return SparkplugType::UInt16;
}

uint64_t deviceMetricAlias(std::size_t device, std::size_t metric) {
    return kAliasBlock * (device + 1) + metric;
}

std::optional<std::size_t> deviceMetricOfAlias(std::size_t device, uint64_t alias) {
    const uint64_t first = deviceMetricAlias(device, 0);
    if (alias < first || alias - first >= kDeviceMetrics) return std::nullopt;
    return static_cast<std::size_t>(alias - first);
}

std::optional<std::size_t> deviceMetricNamed(std::string_view name) {
    for (std::size_t m = 0; m < kDeviceMetrics; ++m)
        if (names()[m] == name) return m;
    return std::nullopt;
}

std::optional<int> writableOutput(std::size_t metric) {
    if (metric < kPowerMetrics) return static_cast<int>(metric);
    return std::nullopt;
}

uint64_t deviceMetricValue(const snpoll::NodeStatus& s, std::size_t metric) {
    if (metric < kPowerMetrics) return s.outputs.at(metric) ? 1 : 0;
    if (metric < kFirstPropertyMetric) return s.analog.at(metric - kFirstAnalogMetric);
    switch (metric) {
        case kSerialMetric:
            return s.serial;
        case kRevisionMetric:
            return s.revision;
        case kBoardMetric:
            return s.board;
        case kHwConfigMetric:
            return s.hwConfig;
        case kTimeoutMetric:
            return s.deviceTimeout;
        default:
            return s.parms.at(metric - kFirstParameterMetric);
    }
}

}  // namespace snmqtt

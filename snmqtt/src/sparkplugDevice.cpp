#include "sparkplugDevice.h"

#include <cmath>

#include "channelSettings.h"

namespace snmqtt {

namespace {

uint64_t milliseconds(double seconds) {
    return static_cast<uint64_t>(std::llround(seconds * 1000));
}

}  // namespace

SparkplugDevice::SparkplugDevice(std::size_t index, std::string name,
                                 const ChannelSettings& channels, double interval, double maxAge)
    : index_(index),
      name_(std::move(name)),
      channels_(channels),
      interval_(interval),
      maxAge_(maxAge) {}

// As the plain topics' availability: an answer within three intervals.
bool SparkplugDevice::answering(const snpoll::NodeStatus& status, double now) const {
    return status.lastAnswer > 0 && now - status.lastAnswer <= 3 * interval_;
}

MetricValue SparkplugDevice::valueOf(const snpoll::NodeStatus& status, std::size_t metric) const {
    MetricValue value;
    value.alias = deviceMetricAlias(index_, metric);
    value.type = deviceMetricType(metric);
    value.value = deviceMetricValue(status, metric);
    value.timestamp = milliseconds(status.lastAnswer);
    return value;
}

std::optional<DeviceMessage> SparkplugDevice::due(const snpoll::NodeStatus& status,
                                                  double now) const {
    const bool up = answering(status, now);
    if (born_ && !up) return DeviceMessage{DeviceMessageKind::Death, {}};
    // A birth carries every metric's value: none before all were read.
    if (!born_ && up && status.identityKnown && status.outputsKnown) return birth(status);
    if (born_) return changes(status, now);
    return std::nullopt;
}

DeviceMessage SparkplugDevice::birth(const snpoll::NodeStatus& status) const {
    DeviceMessage message{DeviceMessageKind::Birth, {}};
    for (std::size_t m = 0; m < kDeviceMetrics; ++m) {
        message.metrics.push_back(valueOf(status, m));
        message.metrics.back().name = deviceMetricName(m);
    }
    return message;
}

std::optional<DeviceMessage> SparkplugDevice::changes(const snpoll::NodeStatus& status,
                                                      double now) const {
    DeviceMessage message{DeviceMessageKind::Data, {}};
    for (std::size_t m = 0; m < kDeviceMetrics; ++m) {
        const bool analog = m >= kFirstAnalogMetric && m < kFirstPropertyMetric;
        const unsigned deadband =
            analog ? channels_.deadband(name_, static_cast<int>(m - kFirstAnalogMetric)) : 0;
        const auto value = static_cast<long>(deviceMetricValue(status, m));
        if (values_.dueNumber(deviceMetricName(m), value, deadband, now, maxAge_))
            message.metrics.push_back(valueOf(status, m));
    }
    if (message.metrics.empty()) return std::nullopt;
    return message;
}

void SparkplugDevice::sent(const DeviceMessage& message, double now) {
    born_ = message.kind != DeviceMessageKind::Death;
    if (!born_) return values_.forget();
    for (const MetricValue& value : message.metrics) {
        const std::optional<std::size_t> metric = deviceMetricOfAlias(index_, *value.alias);
        const std::string& name = deviceMetricName(*metric);
        values_.published(name, "", static_cast<long>(value.value), now);
    }
}

void SparkplugDevice::forget() {
    born_ = false;
    values_.forget();
}

void SparkplugDevice::reportOutputs() {
    for (std::size_t o = 0; o < kPowerMetrics; ++o) values_.forget(deviceMetricName(o));
}

}  // namespace snmqtt

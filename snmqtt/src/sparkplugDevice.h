// One node as a Sparkplug device: born (DBIRTH) once it answers and its
// identity is known, its changes sent (DDATA) by the same deadband and
// max-age as the plain topics, and dead (DDEATH) once it stops answering.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "nodePoller.h"
#include "publishPolicy.h"
#include "sparkplugMetrics.h"

namespace snmqtt {

class ChannelSettings;

enum class DeviceMessageKind { Birth, Data, Death };

struct DeviceMessage {
    DeviceMessageKind kind = DeviceMessageKind::Data;
    std::vector<MetricValue> metrics;
};

class SparkplugDevice {
public:
    // `index`: the device's place among the edge node's, for its aliases.
    SparkplugDevice(std::size_t index, std::string name, const ChannelSettings& channels,
                    double interval, double maxAge);

    const std::string& name() const { return name_; }
    std::size_t index() const { return index_; }
    bool born() const { return born_; }

    // What the device has to say now, if anything.
    std::optional<DeviceMessage> due(const snpoll::NodeStatus& status, double now) const;
    // After `message` went out.
    void sent(const DeviceMessage& message, double now);
    // A new session (connection or rebirth): born again when it answers.
    void forget();
    // A command's read-back is reported even when nothing changed.
    void reportOutputs();

private:
    bool answering(const snpoll::NodeStatus& status, double now) const;
    MetricValue valueOf(const snpoll::NodeStatus& status, std::size_t metric) const;
    DeviceMessage birth(const snpoll::NodeStatus& status) const;
    std::optional<DeviceMessage> changes(const snpoll::NodeStatus& status, double now) const;

    const std::size_t index_;
    const std::string name_;
    const ChannelSettings& channels_;
    const double interval_;
    const double maxAge_;
    bool born_ = false;
    PublishedValues values_;  // by metric name
};

}  // namespace snmqtt

#include "sparkplugCommand.h"

#include <optional>

#include "printableText.h"
#include "sparkplugMetrics.h"
#include "sparkplugPayload.pb.h"

namespace snmqtt {

namespace {

constexpr std::size_t kShownName = 60;

using Metric = spb::Payload::Metric;

std::string shown(const Metric& m) {
    if (m.has_name()) return "'" + printableExcerpt(m.name(), kShownName) + "'";
    if (m.has_alias()) return "alias " + std::to_string(m.alias());
    return "a metric with neither name nor alias";
}

// Nothing when the bytes are no payload or hold too many metrics.
std::optional<spb::Payload> decode(std::string_view bytes, std::string& refusal) {
    spb::Payload payload;
    if (bytes.size() > kLongestCommand) {
        refusal =
            std::to_string(bytes.size()) + " bytes, more than " + std::to_string(kLongestCommand);
        return std::nullopt;
    }
    if (!payload.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
        refusal = "not a Sparkplug B payload";
        return std::nullopt;
    }
    if (payload.metrics_size() == 0) {
        refusal = "no metric in it";
        return std::nullopt;
    }
    if (static_cast<std::size_t>(payload.metrics_size()) > kMostCommandMetrics) {
        refusal = std::to_string(payload.metrics_size()) + " metrics in it, more than " +
                  std::to_string(kMostCommandMetrics);
        return std::nullopt;
    }
    return payload;
}

// The Boolean a metric carries, or why it carries none.
std::optional<bool> booleanOf(const Metric& m, std::string& refusal) {
    const bool typed =
        !m.has_datatype() || m.datatype() == static_cast<uint32_t>(SparkplugType::Boolean);
    if (m.is_null() || !typed || m.value_case() != Metric::kBooleanValue) {
        refusal = shown(m) + " needs a Boolean value";
        return std::nullopt;
    }
    return m.boolean_value();
}

// The device's metric a command's names, by name, alias or both alike.
std::optional<std::size_t> deviceMetricOf(const Metric& m, std::size_t device,
                                          std::string& refusal) {
    std::optional<std::size_t> byName, byAlias;
    if (m.has_name()) byName = deviceMetricNamed(m.name());
    if (m.has_alias()) byAlias = deviceMetricOfAlias(device, m.alias());
    if ((m.has_name() && !byName) || (m.has_alias() && !byAlias) || (!byName && !byAlias)) {
        refusal = shown(m) + ": no such metric";
        return std::nullopt;
    }
    if (byName && byAlias && *byName != *byAlias) {
        refusal = shown(m) + " and alias " + std::to_string(m.alias()) + " name different metrics";
        return std::nullopt;
    }
    return byName ? byName : byAlias;
}

std::optional<DeviceWrite> deviceWriteOf(const Metric& m, std::size_t device,
                                         std::string& refusal) {
    const std::optional<std::size_t> metric = deviceMetricOf(m, device, refusal);
    if (!metric) return std::nullopt;
    const std::optional<int> output = writableOutput(*metric);
    if (!output) {
        refusal = deviceMetricName(*metric) + " cannot be written";
        return std::nullopt;
    }
    const std::optional<bool> on = booleanOf(m, refusal);
    if (!on) return std::nullopt;
    return DeviceWrite{*output, *on};
}

bool isRebirth(const Metric& m) {
    const bool named = m.has_name() && m.name() == kRebirthName;
    const bool aliased = m.has_alias() && m.alias() == kRebirthAlias;
    return (named || aliased) && (!m.has_name() || named) && (!m.has_alias() || aliased);
}

}  // namespace

DeviceCommand parseDeviceCommand(std::string_view bytes, std::size_t device) {
    DeviceCommand command;
    const std::optional<spb::Payload> payload = decode(bytes, command.refusal);
    if (!payload) return command;
    for (const Metric& m : payload->metrics()) {
        const std::optional<DeviceWrite> write = deviceWriteOf(m, device, command.refusal);
        if (!write) {
            command.writes.clear();
            return command;
        }
        command.writes.push_back(*write);
    }
    return command;
}

NodeCommand parseNodeCommand(std::string_view bytes) {
    NodeCommand command;
    const std::optional<spb::Payload> payload = decode(bytes, command.refusal);
    if (!payload) return command;
    bool rebirth = false;
    for (const Metric& m : payload->metrics()) {
        if (!isRebirth(m)) {
            command.refusal = shown(m) + " cannot be written";
            return command;
        }
        const std::optional<bool> value = booleanOf(m, command.refusal);
        if (!value) return command;
        rebirth = rebirth || *value;
    }
    command.rebirth = rebirth;
    return command;
}

}  // namespace snmqtt

#include "discovery.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "sncommon/hexText.h"

namespace snmqtt {

namespace {

using nlohmann::json;

constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

// Labels were checked as UTF-8 when given; replacing is the last guard, so
// that no text ever makes a config throw instead of being published.
std::string dumped(const json& config) {
    return config.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string objectId(uint16_t serial) { return "snlib_" + std::to_string(serial); }

std::string configTopic(const std::string& prefix, const char* component, uint16_t serial,
                        const std::string& entity) {
    return prefix + "/" + component + "/" + objectId(serial) + "/" + entity + "/config";
}

std::string switchTopic(const std::string& prefix, uint16_t serial, int output) {
    return configTopic(prefix, "switch", serial, "power_" + std::to_string(output));
}

std::string outputSensorTopic(const std::string& prefix, uint16_t serial, int output) {
    return configTopic(prefix, "binary_sensor", serial, "power_" + std::to_string(output));
}

std::string analogTopic(const std::string& prefix, uint16_t serial, int channel) {
    return configTopic(prefix, "sensor", serial, "analog_" + std::to_string(channel));
}

json deviceOf(const DiscoveryContext& context, const NodeIdentity& node) {
    return {{"identifiers", json::array({"snlib_node_" + std::to_string(node.serial)})},
            {"name", node.name},
            {"manufacturer", "snLib"},
            {"model", "sensor node"},
            {"sw_version", sncommon::hexText(node.softwareRevision, 4)},
            {"via_device", context.bridgeId}};
}

// Shown while the bridge and the node are both online: a node that stopped
// answering, or a bridge gone, greys its entities out.
json entityBase(const DiscoveryContext& context, const NodeIdentity& node) {
    const json bridge = {{"topic", context.topics->bridgeState()},
                         {"payload_available", kOnline},
                         {"payload_not_available", kOffline}};
    const json own = {{"topic", context.topics->availability(node.name)},
                      {"payload_available", kOnline},
                      {"payload_not_available", kOffline}};
    return {{"availability", json::array({bridge, own})},
            {"availability_mode", "all"},
            {"device", deviceOf(context, node)},
            {"origin", {{"name", "snmqtt"}}},
            {"qos", 1}};
}

json outputConfig(const DiscoveryContext& context, const NodeIdentity& node, int output) {
    json config = entityBase(context, node);
    const std::string id = objectId(node.serial) + "_power_" + std::to_string(output);
    config["name"] = "Power " + std::to_string(output);
    config["state_topic"] = context.topics->power(node.name, output);
    config["payload_on"] = "ON";
    config["payload_off"] = "OFF";
    if (context.readOnly) {
        // Its own id: Home Assistant keeps a switch's registry entry apart.
        config["unique_id"] = id + "_state";
        config["device_class"] = "power";
        return config;
    }
    config["unique_id"] = id;
    config["command_topic"] = context.topics->powerSet(node.name, output);
    config["state_on"] = "ON";
    config["state_off"] = "OFF";
    config["optimistic"] = false;
    return config;
}

json analogConfig(const DiscoveryContext& context, const NodeIdentity& node,
                  const ChannelLook& look, int channel) {
    json config = entityBase(context, node);
    config["name"] = look.label;
    config["unique_id"] = objectId(node.serial) + "_analog_" + std::to_string(channel);
    config["state_topic"] = context.topics->analog(node.name, channel);
    config["state_class"] = "measurement";
    if (!look.unit.empty()) config["unit_of_measurement"] = look.unit;
    const std::string shown = valueTemplate(look);
    if (!shown.empty()) config["value_template"] = shown;
    return config;
}

// Fixed notation, as few digits as give the value back: Jinja reads it, and
// its decimals are those the result needs.
std::string numberText(double value) {
    char text[400];  // the longest finite double in fixed notation fits
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return std::string(text, end.ptr);
}

std::size_t decimalsOf(const std::string& number) {
    const std::size_t point = number.find('.');
    return point == std::string::npos ? 0 : number.size() - point - 1;
}

}  // namespace

std::string valueTemplate(const ChannelLook& look) {
    if (look.scale == 1 && look.offset == 0) return "";
    const std::string scale = numberText(look.scale);
    const std::string offset = numberText(std::fabs(look.offset));
    // Counts are whole, so the result has no more decimals than the scale
    // and the offset: any further digit is the float's rounding noise.
    const std::size_t decimals = std::max(decimalsOf(scale), decimalsOf(offset));
    std::string sum = decimals == 0 ? "(value | int)" : "(value | float)";
    if (look.scale != 1) sum += look.scale < 0 ? " * (" + scale + ")" : " * " + scale;
    if (look.offset != 0) sum += (look.offset < 0 ? " - " : " + ") + offset;
    if (decimals == 0) return "{{ " + sum + " }}";
    return "{{ (" + sum + ") | round(" + std::to_string(decimals) + ") }}";
}

std::vector<RetainedMessage> bridgeConfigs(const DiscoveryContext& context) {
    const json config = {{"name", "Connectivity"},
                         {"unique_id", context.bridgeId + "_connectivity"},
                         {"device_class", "connectivity"},
                         {"entity_category", "diagnostic"},
                         {"state_topic", context.topics->bridgeState()},
                         {"payload_on", kOnline},
                         {"payload_off", kOffline},
                         {"qos", 1},
                         {"origin", {{"name", "snmqtt"}}},
                         {"device",
                          {{"identifiers", json::array({context.bridgeId})},
                           {"name", "snmqtt " + context.bridgeId},
                           {"manufacturer", "snLib"},
                           {"model", "snmqtt"}}}};
    return {{context.prefix + "/binary_sensor/" + context.bridgeId + "/connectivity/config",
             dumped(config)}};
}

std::vector<RetainedMessage> nodeConfigs(const DiscoveryContext& context, const NodeIdentity& node,
                                         const ChannelSettings& channels) {
    std::vector<RetainedMessage> messages;
    const std::string& prefix = context.prefix;
    for (int output = 0; output < kOutputs; ++output) {
        const std::string shown = context.readOnly ? outputSensorTopic(prefix, node.serial, output)
                                                   : switchTopic(prefix, node.serial, output);
        const std::string cleared = context.readOnly
                                        ? switchTopic(prefix, node.serial, output)
                                        : outputSensorTopic(prefix, node.serial, output);
        messages.push_back({shown, dumped(outputConfig(context, node, output))});
        messages.push_back({cleared, ""});
    }
    for (int channel = 0; channel < kChannels; ++channel) {
        const ChannelLook look = channels.look(node.name, channel);
        messages.push_back({analogTopic(prefix, node.serial, channel),
                            dumped(analogConfig(context, node, look, channel))});
    }
    return messages;
}

std::vector<std::string> nodeConfigTopics(const std::string& prefix, uint16_t serial) {
    std::vector<std::string> topics;
    for (int output = 0; output < kOutputs; ++output) {
        topics.push_back(switchTopic(prefix, serial, output));
        topics.push_back(outputSensorTopic(prefix, serial, output));
    }
    for (int channel = 0; channel < kChannels; ++channel)
        topics.push_back(analogTopic(prefix, serial, channel));
    return topics;
}

}  // namespace snmqtt

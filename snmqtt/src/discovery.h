// Home Assistant's MQTT discovery: one retained JSON config per entity,
// under <prefix>/<component>/<object>/<entity>/config.  The bridge is a
// device of its own that every node's device names as its via_device.
// A node's entities are keyed by its serial number, not its name, so a
// renamed node stays the same device in Home Assistant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channelSettings.h"
#include "topics.h"

namespace snmqtt {

struct RetainedMessage {
    std::string topic;
    std::string payload;  // empty: clears what the broker keeps on the topic
};

struct NodeIdentity {
    std::string name;
    uint16_t serial = 0;
    uint16_t softwareRevision = 0;
};

struct DiscoveryContext {
    std::string prefix;  // "homeassistant"
    const Topics* topics = nullptr;
    std::string bridgeId;   // "snmqtt_" and the sanitized client id
    bool readOnly = false;  // no command topics: outputs are shown, not switched
};

// The bridge as a device, with a connectivity binary_sensor on its state
// topic ("online"/"offline").  It has no availability of its own: offline
// is its state, not an unknown one.
std::vector<RetainedMessage> bridgeConfigs(const DiscoveryContext& context);

// A node's device: its four outputs and its eight analog channels, each
// available while both the bridge and the node are online.  The outputs
// are switches, or binary_sensors when readOnly (Home Assistant takes no
// switch without a command topic); the other variant's configs come with
// empty payloads, so a bridge restarted with the other mode leaves no
// stale entity behind.
std::vector<RetainedMessage> nodeConfigs(const DiscoveryContext& context, const NodeIdentity& node,
                                         const ChannelSettings& channels);

// Every topic nodeConfigs publishes on for that serial, in either mode: a
// removed node's configs are cleared with an empty retained payload on each.
std::vector<std::string> nodeConfigTopics(const std::string& prefix, uint16_t serial);

// The Jinja template that shows a channel's counts scaled, rounded to the
// decimals the scale and offset carry; empty when counts show as they are.
std::string valueTemplate(const ChannelLook& look);

}  // namespace snmqtt

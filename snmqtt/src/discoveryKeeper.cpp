#include "discoveryKeeper.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "discovery.h"
#include "nodeStatePublisher.h"

namespace snmqtt {

namespace {

// A broker without the list sends nothing: past this, there was none.
constexpr double kListWait = 2.0;

void publishAll(const std::vector<RetainedMessage>& messages, Outbox& out) {
    for (const RetainedMessage& m : messages) out.publish(m.topic, m.payload, 1, true);
}

}  // namespace

DiscoveryKeeper::DiscoveryKeeper(const Topics& topics, std::string prefix, std::string bridgeId,
                                 bool enabled, bool readOnly, const ChannelSettings& channels)
    : topics_(topics),
      prefix_(std::move(prefix)),
      bridgeId_(std::move(bridgeId)),
      enabled_(enabled),
      readOnly_(readOnly),
      channels_(channels) {}

void DiscoveryKeeper::connected(double now) {
    homeAssistantOnline();
    previousKnown_ = false;
    previous_.clear();
    listSent_.clear();
    connectedAt_ = now;
}

void DiscoveryKeeper::previousNodes(std::string_view payload) {
    if (previousKnown_) return;  // our own list coming back
    previousKnown_ = true;
    const auto list = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
    if (!list.is_object()) return;
    for (const auto& [name, serial] : list.items())
        if (serial.is_number_unsigned() && serial.get<unsigned long>() <= 0xFFFF)
            previous_[name] = serial.get<uint16_t>();
}

void DiscoveryKeeper::takeBack(const std::string& name, uint16_t serial, bool cleared,
                               Outbox& out) {
    if (enabled_)
        for (const std::string& topic : nodeConfigTopics(prefix_, serial))
            out.publish(topic, "", 1, true);
    if (cleared) clearNodeTopics(topics_, name, out);
}

// Configs are named by the serial number, so two nodes with one (both
// unprogrammed, say) would show as one entity: the second is left out, once
// said.
bool DiscoveryKeeper::ownsSerial(const std::string& name, uint16_t serial) {
    const auto [owner, fresh] = serialOwners_.emplace(serial, name);
    if (fresh || owner->second == name) return true;
    if (warned_.insert(name).second)
        std::fprintf(stderr,
                     "snmqtt: node %s has serial number %u like node %s: Home Assistant is not "
                     "told of it (discovery names a node by its serial number)\n",
                     name.c_str(), serial, owner->second.c_str());
    return false;
}

void DiscoveryKeeper::update(const std::map<std::string, KnownNode>& nodes, Outbox& out,
                             double now) {
    if (!out.connected()) return;
    const DiscoveryContext context{prefix_, &topics_, bridgeId_, readOnly_};
    if (enabled_ && !bridgeSent_) publishAll(bridgeConfigs(context), out), bridgeSent_ = true;
    for (const auto& [name, node] : nodes) {
        if (!node.identityKnown || !ownsSerial(name, node.serial)) continue;
        const auto sent = sent_.find(name);
        if (sent != sent_.end() && sent->second == node.serial) continue;
        if (sent != sent_.end()) takeBack(name, sent->second, false, out);  // another unit now
        if (enabled_)
            publishAll(nodeConfigs(context, {name, node.serial, node.softwareRevision}, channels_),
                       out);
        sent_[name] = node.serial;
    }
    if (!previousKnown_ && now - connectedAt_ < kListWait) return;
    nlohmann::json list = nlohmann::json::object();
    for (const auto& [name, serial] : previous_) {
        const auto current = nodes.find(name);
        if (current == nodes.end()) {
            takeBack(name, serial, true, out);
        } else if (!current->second.identityKnown) {
            list[name] = serial;  // not known yet: kept until it is
        } else if (current->second.serial != serial) {
            takeBack(name, serial, false, out);
        }
    }
    previous_.clear();
    for (const auto& [name, serial] : sent_) list[name] = serial;
    const std::string text = list.dump();
    if (text != listSent_ && out.publish(topics_.bridgeNodes(), text, 1, true)) listSent_ = text;
}

}  // namespace snmqtt

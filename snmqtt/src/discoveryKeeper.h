// Home Assistant's view of the bridge: the discovery configs of the bridge
// and of every node whose identity is known, out again after each connect
// and whenever Home Assistant announces itself; and the configs and state
// topics of a node no longer bridged taken back.  What was bridged last
// time is kept on the broker itself, retained on <base>/bridge/nodes.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "outbox.h"
#include "topics.h"

namespace snmqtt {

class ChannelSettings;

struct KnownNode {
    std::string name;
    bool identityKnown = false;
    uint16_t serial = 0;
    uint16_t softwareRevision = 0;
};

class DiscoveryKeeper {
public:
    DiscoveryKeeper(const Topics& topics, std::string prefix, std::string bridgeId, bool enabled,
                    bool readOnly, const ChannelSettings& channels);

    void connected(double now);
    void homeAssistantOnline() { sent_.clear(), bridgeSent_ = false; }
    // The retained list of what was bridged before, as the broker has it.
    void previousNodes(std::string_view payload);
    void update(const std::map<std::string, KnownNode>& nodes, Outbox& out, double now);

private:
    void takeBack(const std::string& name, uint16_t serial, bool cleared, Outbox& out);
    bool ownsSerial(const std::string& name, uint16_t serial);

    const Topics& topics_;
    const std::string prefix_;
    const std::string bridgeId_;
    const bool enabled_;
    const bool readOnly_;
    const ChannelSettings& channels_;
    bool bridgeSent_ = false;
    std::map<std::string, uint16_t> sent_;      // node -> serial its configs carry
    std::map<std::string, uint16_t> previous_;  // as the broker told
    bool previousKnown_ = false;
    double connectedAt_ = 0;
    std::string listSent_;
    std::map<uint16_t, std::string> serialOwners_;  // the node whose configs a serial names
    std::set<std::string> warned_;
};

}  // namespace snmqtt

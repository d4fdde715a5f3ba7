// The bridge between a set of nodes and a broker's plain topics: their
// state published as it becomes due, commands from the broker carried out
// and read back before they are confirmed, ports carried both ways, and
// Home Assistant kept told.  Everything here runs on the program's one
// loop thread; the pollers' threads only hand over finished commands.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commandDesk.h"
#include "discoveryKeeper.h"
#include "mqttOptions.h"
#include "nodeHub.h"
#include "nodeStatePublisher.h"
#include "outbox.h"
#include "portCarrier.h"
#include "topics.h"

namespace snmqtt {

struct Inbound {
    std::string topic;
    std::string payload;
    std::optional<ReplyTo> replyTo;
    bool retained = false;
};

class MqttBridge {
public:
    MqttBridge(const MqttOptions& options, NodeHub& hub, Outbox& out);
    ~MqttBridge();

    struct Subscription {
        std::string filter;
        int qos;
    };
    std::vector<Subscription> subscriptions() const;
    // After every connect, subscriptions made: everything is published again.
    void connected(double now);
    void message(const Inbound& message, double now);
    void tick(double now);
    // Seconds within which tick() is wanted again at the latest.
    double nextTickWithin() const;
    // Before a planned disconnect.
    void stopping();

private:
    struct Bridged {
        HubNode& hub;
        std::unique_ptr<NodeStatePublisher> state;
        std::vector<std::unique_ptr<PortCarrier>> ports;
    };

    Bridged* nodeNamed(const std::string& name);
    bool replyAllowed(const std::string& topic) const;
    void command(Bridged& node, const CommandTopic& topic, const Inbound& message, double now);
    void portBytes(Bridged& node, const CommandTopic& topic, const Inbound& message, double now);
    void finishCommands(double now);
    void forwardPorts(double now);

    const MqttOptions& options_;
    NodeHub& hub_;
    Outbox& out_;
    const Topics topics_;
    CommandDesk desk_;
    DiscoveryKeeper discovery_;
    std::vector<std::unique_ptr<Bridged>> nodes_;
    std::vector<PublishBudget> budgets_;  // a bus each
    std::size_t firstNode_ = 0;           // turns at the head of a bus's budget
    bool bridgeOnline_ = false;
};

}  // namespace snmqtt

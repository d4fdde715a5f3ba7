// The bridge between a set of nodes and a broker: a poller per node, their
// state published as it becomes due, commands from the broker carried out
// and read back before they are confirmed, ports carried both ways, and
// Home Assistant kept told.  Everything here runs on the program's one
// loop thread; the pollers' threads only hand over finished commands.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commandDesk.h"
#include "discoveryKeeper.h"
#include "mqttOptions.h"
#include "nodePoller.h"
#include "nodeStatePublisher.h"
#include "outbox.h"
#include "portCarrier.h"
#include "topics.h"

namespace snmqtt {

struct Inbound {
    std::string topic;
    std::string payload;
    std::optional<ReplyTo> replyTo;
};

class MqttBridge {
public:
    // `wake` must make the loop call tick() soon; it runs on poller threads.
    MqttBridge(const MqttOptions& options, Outbox& out, std::function<void()> wake);
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
    // Before a planned disconnect.
    void stopping();

private:
    struct Bridged {
        sncommon::NodeTarget target;
        std::unique_ptr<snpoll::NodePoller> poller;
        std::unique_ptr<NodeStatePublisher> state;
        std::vector<std::unique_ptr<PortCarrier>> ports;
        std::size_t bus = 0;
    };
    struct Finished {
        std::size_t node;
        snpoll::Command command;
        bool done;
        std::string outcome;
    };

    Bridged* nodeNamed(const std::string& name);
    void command(Bridged& node, const CommandTopic& topic, const Inbound& message, double now);
    void portBytes(Bridged& node, const CommandTopic& topic, const Inbound& message, double now);
    void finishCommands(double now);
    void forwardPorts(double now);

    const MqttOptions& options_;
    Outbox& out_;
    const std::function<void()> wake_;
    const Topics topics_;
    CommandDesk desk_;
    DiscoveryKeeper discovery_;
    std::vector<std::unique_ptr<Bridged>> nodes_;
    std::vector<PublishBudget> budgets_;  // a bus each
    std::size_t firstNode_ = 0;           // turns at the head of a bus's budget
    bool bridgeOnline_ = false;
    std::mutex finishedMutex_;
    std::deque<Finished> finished_;
};

}  // namespace snmqtt

#include "mqttBridge.h"

#include <cctype>

#include "commandPayload.h"
#include "printableText.h"

namespace snmqtt {

namespace {

constexpr int kBridgeQos = 1;

const char* kindName(RefusalKind kind) {
    switch (kind) {
        case RefusalKind::BadPayload:
            return "bad payload";
        case RefusalKind::OutOfRange:
            return "out of range";
        case RefusalKind::TooLarge:
            return "too large";
        case RefusalKind::UnknownNode:
            return "unknown node";
        case RefusalKind::NotACommand:
        case RefusalKind::None:
            break;
    }
    return "refused";
}

std::string bridgeId(const std::string& clientId) {
    std::string id = "snmqtt_";
    for (const char c : clientId)
        id += (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-') ? c : '_';
    return id;
}

}  // namespace

MqttBridge::MqttBridge(const MqttOptions& options, NodeHub& hub, Outbox& out)
    : options_(options),
      hub_(hub),
      out_(out),
      topics_(options.baseTopic),
      desk_(topics_, out, "snmqtt"),
      discovery_(topics_, options.discoveryPrefix, bridgeId(options.clientId), options.discovery,
                 options.readOnly, options.channels),
      budgets_(hub.size(), PublishBudget(options.publishRate)) {
    for (std::size_t i = 0; i < hub.size(); ++i) {
        HubNode& node = hub.at(i);
        auto bridged = std::make_unique<Bridged>(Bridged{node, nullptr, {}});
        bridged->state = std::make_unique<NodeStatePublisher>(
            topics_, node.target.name, options.channels, options.interval, options.maxAge);
        for (const RelayedPort& port : options.ports)
            if (port.node == node.target.name)
                bridged->ports.push_back(
                    std::make_unique<PortCarrier>(*node.poller, topics_, port.node, port.port));
        nodes_.push_back(std::move(bridged));
    }
}

// The ports' relays stop while the pollers still run.
MqttBridge::~MqttBridge() {
    for (auto& node : nodes_) node->ports.clear();
}

// A port's bytes at QoS 2, so a sender at QoS 2 has them exactly once.
std::vector<MqttBridge::Subscription> MqttBridge::subscriptions() const {
    std::vector<Subscription> filters = {{topics_.bridgeNodes(), 1}};
    if (options_.discovery) filters.push_back({options_.discoveryPrefix + "/status", 1});
    if (!options_.readOnly)
        for (const std::string& filter : topics_.commandFilters())
            filters.push_back({filter, filter.ends_with("/tx") ? 2 : 1});
    return filters;
}

void MqttBridge::connected(double now) {
    bridgeOnline_ = out_.publish(topics_.bridgeState(), "online", kBridgeQos, true);
    for (auto& node : nodes_) node->state->forget();
    discovery_.connected(now);
    tick(now);
}

MqttBridge::Bridged* MqttBridge::nodeNamed(const std::string& name) {
    const int index = hub_.find(name);
    return index < 0 ? nullptr : nodes_[static_cast<std::size_t>(index)].get();
}

// An answer goes where the requester says, with the bridge's rights: never
// onto the bridge's own topics or Home Assistant's, where it would be a
// command or a config.
bool MqttBridge::replyAllowed(const std::string& topic) const {
    const auto under = [&](const std::string& prefix) {
        return topic == prefix || topic.starts_with(prefix + "/");
    };
    return validTopicName(topic) && !under(options_.baseTopic) &&
           !(options_.discovery && under(options_.discoveryPrefix));
}

void MqttBridge::message(const Inbound& received, double now) {
    Inbound m = received;
    if (m.replyTo && !replyAllowed(m.replyTo->topic)) {
        desk_.refuse("response topic",
                     "response topic '" + printableExcerpt(m.replyTo->topic, 60) +
                         "' is the bridge's own or Home Assistant's: no answer is sent there",
                     std::nullopt, now);
        m.replyTo.reset();
    }
    if (m.topic == topics_.bridgeNodes()) return discovery_.previousNodes(m.payload);
    if (options_.discovery && m.topic == options_.discoveryPrefix + "/status") {
        if (m.payload != "online") return;
        discovery_.homeAssistantOnline();
        for (auto& node : nodes_) node->state->forget();
        out_.publish(topics_.bridgeState(), "online", kBridgeQos, true);
        return;
    }
    if (options_.readOnly) return;
    const std::optional<CommandTopic> topic = topics_.parseCommand(m.topic);
    if (!topic) return;
    // Kept by the broker, it would be carried out again at every connect.
    if (m.retained)
        return desk_.refuse("retained command",
                            printableExcerpt(m.topic.substr(options_.baseTopic.size() + 1), 60) +
                                ": a retained command is not carried out (publish it without "
                                "the retain flag, and clear the retained one)",
                            m.replyTo, now);
    Bridged* node = nodeNamed(topic->node);
    if (node == nullptr)
        return desk_.refuse(kindName(RefusalKind::UnknownNode),
                            printableExcerpt(m.topic.substr(options_.baseTopic.size() + 1), 60) +
                                ": no node of that name on this bridge",
                            m.replyTo, now);
    if (topic->kind == CommandKind::PortTx) return portBytes(*node, *topic, m, now);
    command(*node, *topic, m, now);
}

void MqttBridge::command(Bridged& node, const CommandTopic& topic, const Inbound& m, double now) {
    const ParsedMqttCommand parsed = parseMqttCommand(topic, m.payload);
    if (!parsed.command) return desk_.refuse(kindName(parsed.kind), parsed.refusal, m.replyTo, now);
    snpoll::Command c = *parsed.command;
    c.ticket = desk_.ticket(m.replyTo);
    if (hub_.submit(static_cast<std::size_t>(hub_.find(node.hub.target.name)), c,
                    CommandOwner::Topics))
        return;
    const std::string why = "refused: the node has too many commands waiting";
    desk_.finished(c.ticket, node.hub.target.name + ": " + snpoll::describe(c), false, why);
    desk_.log(node.hub.target.name + ": " + snpoll::describe(c) + ": " + why, now);
}

void MqttBridge::portBytes(Bridged& node, const CommandTopic& topic, const Inbound& m, double now) {
    const CheckedPortTx checked = checkPortTx(topic, m.payload);
    if (checked.kind != RefusalKind::None)
        return desk_.refuse(kindName(checked.kind), checked.refusal, m.replyTo, now);
    for (auto& carrier : node.ports) {
        if (carrier->port() != topic.index) continue;
        if (carrier->send(m.payload)) return;
        return desk_.refuse("port full",
                            m.topic + ": " + std::to_string(m.payload.size()) +
                                " bytes not taken: the port's queue is full",
                            m.replyTo, now);
    }
    desk_.refuse("port not carried",
                 m.topic + ": port " + std::to_string(topic.index) + " of " + node.hub.target.name +
                     " is not carried (snmqtt --port " + node.hub.target.name + "/" +
                     std::to_string(topic.index) + ")",
                 m.replyTo, now);
}

void MqttBridge::finishCommands(double now) {
    for (const FinishedCommand& f : hub_.takeFinished(CommandOwner::Topics)) {
        Bridged& node = *nodes_[f.node];
        node.state->republishOutputs();
        const std::string what = node.hub.target.name + ": " + snpoll::describe(f.command);
        // The node has no register to read it back from: what it took is shown.
        if (f.done && f.command.action == snpoll::Action::DcAlwaysOn)
            out_.publish(topics_.dcAlwaysOn(node.hub.target.name),
                         f.command.value != 0 ? "ON" : "OFF", kBridgeQos, true);
        desk_.finished(f.command.ticket, what, f.done, f.outcome);
        if (!f.done) desk_.log(what + ": " + f.outcome, now);
    }
}

void MqttBridge::forwardPorts(double now) {
    for (auto& node : nodes_)
        for (auto& carrier : node->ports)
            if (const uint64_t missed = carrier->forward(out_, now); missed != 0)
                desk_.log(node->hub.target.name + " port " + std::to_string(carrier->port()) +
                              ": " + std::to_string(missed) +
                              " bytes from the node missed while the broker was away",
                          now);
}

void MqttBridge::tick(double now) {
    if (!out_.connected()) return;
    if (!bridgeOnline_)
        bridgeOnline_ = out_.publish(topics_.bridgeState(), "online", kBridgeQos, true);
    finishCommands(now);
    std::map<std::string, KnownNode> known;
    for (std::size_t k = 0; k < nodes_.size(); ++k) {
        Bridged& node = *nodes_[(firstNode_ + k) % nodes_.size()];
        const snpoll::NodeStatus status = node.hub.poller->status();
        node.state->publish(status, now, out_, budgets_[node.hub.bus]);
        known[node.hub.target.name] = {node.hub.target.name, status.identityKnown, status.serial,
                                       status.revision};
    }
    firstNode_ = nodes_.empty() ? 0 : (firstNode_ + 1) % nodes_.size();
    discovery_.update(known, out_, now);
    forwardPorts(now);
    desk_.flush(now);
}

double MqttBridge::nextTickWithin() const {
    for (const auto& node : nodes_)
        for (const auto& carrier : node->ports)
            if (carrier->holding()) return kRxGather / 2;
    return 0.1;
}

void MqttBridge::stopping() {
    for (auto& node : nodes_) node->ports.clear();
    out_.publish(topics_.bridgeState(), "offline", kBridgeQos, true);
}

}  // namespace snmqtt

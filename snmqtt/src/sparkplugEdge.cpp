#include "sparkplugEdge.h"

#include <cmath>

#include "printableText.h"
#include "sparkplugCommand.h"

namespace snmqtt {

namespace {

// Sparkplug hosts take births and data at QoS 0, never retained; a death
// the edge node sends itself goes as its will would, at QoS 1.
constexpr int kDataQos = 0;
constexpr int kDeathQos = 1;

uint64_t milliseconds(double seconds) {
    return static_cast<uint64_t>(std::llround(seconds * 1000));
}

MetricValue nodeMetric(std::string_view name, uint64_t alias, SparkplugType type, uint64_t value,
                       double now) {
    return MetricValue{std::string(name), alias, type, value, milliseconds(now)};
}

const char* typeName(DeviceMessageKind kind) {
    switch (kind) {
        case DeviceMessageKind::Birth:
            return "DBIRTH";
        case DeviceMessageKind::Death:
            return "DDEATH";
        case DeviceMessageKind::Data:
            break;
    }
    return "DDATA";
}

}  // namespace

SparkplugEdge::SparkplugEdge(const MqttOptions& options, EdgeNodeId id, NodeHub& hub, Outbox& out,
                             Log log)
    : options_(options), topics_(std::move(id)), hub_(hub), out_(out), log_(std::move(log)) {
    for (std::size_t i = 0; i < hub.size(); ++i)
        devices_.push_back(std::make_unique<SparkplugDevice>(
            i, hub.at(i).target.name, options.channels, options.interval, options.maxAge));
}

std::vector<SparkplugEdge::Subscription> SparkplugEdge::subscriptions() const {
    std::vector<Subscription> filters = {{topics_.node("NCMD"), 1}};
    if (!options_.readOnly) filters.push_back({topics_.deviceCommandFilter(), 1});
    return filters;
}

std::string SparkplugEdge::deathPayload(uint8_t bdSeq, double now) const {
    PayloadContent content{milliseconds(now), std::nullopt, {}};
    content.metrics.push_back(
        nodeMetric(kBdSeqName, kBdSeqAlias, SparkplugType::UInt64, bdSeq, now));
    return encodePayload(content);
}

// The seq is used up only by a message that went out, so a host sees no gap.
bool SparkplugEdge::send(const std::string& topic, PayloadContent content) {
    content.seq = seq_;
    if (!out_.publish(topic, encodePayload(content), kDataQos, false)) return false;
    seq_ = static_cast<uint8_t>((seq_ + 1) % 256);
    return true;
}

bool SparkplugEdge::birth(double now) {
    seq_ = 0;
    PayloadContent content{milliseconds(now), std::nullopt, {}};
    content.metrics.push_back(
        nodeMetric(kBdSeqName, kBdSeqAlias, SparkplugType::UInt64, bdSeq_, now));
    content.metrics.push_back(
        nodeMetric(kRebirthName, kRebirthAlias, SparkplugType::Boolean, 0, now));
    sessionBorn_ = send(topics_.node("NBIRTH"), std::move(content));
    return sessionBorn_;
}

void SparkplugEdge::connected(uint8_t bdSeq, double now) {
    bdSeq_ = bdSeq;
    sessionBorn_ = false;
    for (auto& device : devices_) device->forget();
    tick(now);
}

void SparkplugEdge::tick(double now) {
    if (!out_.connected()) return;
    if (!sessionBorn_ && !birth(now)) return;
    finishCommands();
    for (auto& device : devices_) {
        const snpoll::NodeStatus status = hub_.at(device->index()).poller->status();
        const std::optional<DeviceMessage> message = device->due(status, now);
        if (!message) continue;
        PayloadContent content{milliseconds(now), std::nullopt, message->metrics};
        if (send(topics_.device(typeName(message->kind), device->name()), std::move(content)))
            device->sent(*message, now);
    }
}

void SparkplugEdge::stopping(double now) {
    if (!out_.connected() || !sessionBorn_) return;
    out_.publish(topics_.node("NDEATH"), deathPayload(bdSeq_, now), kDeathQos, false);
}

void SparkplugEdge::message(const std::string& topic, std::string_view payload, double now) {
    const std::optional<SparkplugCommandTopic> command = topics_.parseCommand(topic);
    if (!command) return;
    if (!command->forDevice) return nodeCommand(payload, now);
    if (!options_.readOnly) deviceCommand(command->device, payload);
}

void SparkplugEdge::nodeCommand(std::string_view payload, double now) {
    const NodeCommand command = parseNodeCommand(payload);
    if (!command.refusal.empty()) return log_("NCMD refused: " + command.refusal);
    if (!command.rebirth) return;
    log_("rebirth asked for: NBIRTH and the DBIRTHs again");
    connected(bdSeq_, now);
}

void SparkplugEdge::deviceCommand(const std::string& device, std::string_view payload) {
    const int node = hub_.find(device);
    const std::string what = "DCMD for " + printableExcerpt(device, 64);
    if (node < 0) return log_(what + " refused: no such device on this edge node");
    const DeviceCommand command = parseDeviceCommand(payload, static_cast<std::size_t>(node));
    if (!command.refusal.empty()) return log_(what + " refused: " + command.refusal);
    for (const DeviceWrite& write : command.writes) {
        snpoll::Command c;
        c.action = snpoll::Action::Power;
        c.index = write.output;
        c.value = write.on ? 1 : 0;
        if (!hub_.submit(static_cast<std::size_t>(node), c, CommandOwner::Sparkplug))
            log_(what + ": " + snpoll::describe(c) +
                 " refused: the node has too many commands waiting");
    }
}

void SparkplugEdge::finishCommands() {
    for (const FinishedCommand& f : hub_.takeFinished(CommandOwner::Sparkplug)) {
        devices_[f.node]->reportOutputs();
        if (!f.done)
            log_(devices_[f.node]->name() + ": " + snpoll::describe(f.command) + ": " + f.outcome);
    }
}

}  // namespace snmqtt

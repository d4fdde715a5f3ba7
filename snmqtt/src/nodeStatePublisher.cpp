#include "nodeStatePublisher.h"

#include <nlohmann/json.hpp>

#include "channelSettings.h"

namespace snmqtt {

namespace {

constexpr int kStateQos = 1;

}  // namespace

std::string infoJson(const snpoll::NodeStatus& s) {
    nlohmann::json parms = nlohmann::json::array();
    for (std::size_t c = 0; c < snpoll::kChannels; ++c)
        parms.push_back({s.parms[2 * c], s.parms[2 * c + 1]});
    nlohmann::json info = {{"serial_number", s.serial},         {"software_revision", s.revision},
                           {"board_config", s.board},           {"hw_config", s.hwConfig},
                           {"device_timeout", s.deviceTimeout}, {"analog_parms", parms}};
    if (s.powerKnown) info["power_vector"] = s.powerVector;
    return info.dump();
}

std::string lineText(const snrelay::PortLine& line) {
    return std::to_string(line.baud) + " 8" + line.parity + std::to_string(line.stopBits);
}

NodeStatePublisher::NodeStatePublisher(const Topics& topics, std::string node,
                                       const ChannelSettings& channels, double interval,
                                       double maxAge)
    : topics_(topics),
      node_(std::move(node)),
      channels_(channels),
      interval_(interval),
      maxAge_(maxAge) {}

bool NodeStatePublisher::available(const snpoll::NodeStatus& status, double now) const {
    return status.lastAnswer > 0 && now - status.lastAnswer <= 3 * interval_;
}

bool NodeStatePublisher::offer(const std::string& topic, const std::string& text, double now,
                               Outbox& out, PublishBudget& budget) {
    if (!values_.due(topic, text, now, maxAge_)) return true;
    if (!budget.take(now)) return false;
    if (out.publish(topic, text, kStateQos, true)) values_.published(topic, text, 0, now);
    return true;
}

bool NodeStatePublisher::offerNumber(const std::string& topic, long value, unsigned deadband,
                                     double now, Outbox& out, PublishBudget& budget) {
    if (!values_.dueNumber(topic, value, deadband, now, maxAge_)) return true;
    if (!budget.take(now)) return false;
    const std::string text = std::to_string(value);
    if (out.publish(topic, text, kStateQos, true)) values_.published(topic, text, value, now);
    return true;
}

// Availability first, then what a user switches, then the rest: a tight
// budget delays readings, never the state of an output.
void NodeStatePublisher::publish(const snpoll::NodeStatus& status, double now, Outbox& out,
                                 PublishBudget& budget) {
    // A node not heard yet is not known to be down until its time is up:
    // "offline" at start would overwrite a true "online" kept by the broker.
    if (firstPublish_ < 0) firstPublish_ = now;
    if (status.lastAnswer <= 0 && now - firstPublish_ <= 3 * interval_) return;
    const bool up = available(status, now);
    if (!offer(topics_.availability(node_), up ? "online" : "offline", now, out, budget)) return;
    if (!up) return;  // what it said last stands, marked by its availability
    if (!publishOutputs(status, now, out, budget)) return;
    if (!publishIdentity(status, now, out, budget)) return;
    publishAnalogs(status, now, out, budget);
}

bool NodeStatePublisher::publishOutputs(const snpoll::NodeStatus& status, double now, Outbox& out,
                                        PublishBudget& budget) {
    if (!status.outputsKnown) return true;
    for (int o = 0; o < kOutputs; ++o)
        if (!offer(topics_.power(node_, o),
                   status.outputs[static_cast<std::size_t>(o)] ? "ON" : "OFF", now, out, budget))
            return false;
    for (int p = 0; p < kPorts; ++p) {
        const snpoll::PortStatus& port = status.ports[static_cast<std::size_t>(p)];
        if (port.lineKnown &&
            !offer(topics_.portLine(node_, p), lineText(port.line), now, out, budget))
            return false;
    }
    return true;
}

bool NodeStatePublisher::publishIdentity(const snpoll::NodeStatus& status, double now, Outbox& out,
                                         PublishBudget& budget) {
    if (!status.identityKnown) return true;
    if (!offer(topics_.info(node_), infoJson(status), now, out, budget)) return false;
    for (int c = 0; c < kChannels; ++c) {
        const auto at = static_cast<std::size_t>(2 * c);
        const std::string words =
            std::to_string(status.parms[at]) + " " + std::to_string(status.parms[at + 1]);
        if (!offer(topics_.analogParms(node_, c), words, now, out, budget)) return false;
    }
    return true;
}

void NodeStatePublisher::publishAnalogs(const snpoll::NodeStatus& status, double now, Outbox& out,
                                        PublishBudget& budget) {
    for (int c = 0; c < kChannels; ++c) {
        const unsigned deadband = channels_.deadband(node_, c);
        if (!offerNumber(topics_.analog(node_, c), status.analog[static_cast<std::size_t>(c)],
                         deadband, now, out, budget))
            return;
    }
}

void NodeStatePublisher::republishOutputs() {
    for (int o = 0; o < kOutputs; ++o) values_.forget(topics_.power(node_, o));
}

void clearNodeTopics(const Topics& t, const std::string& node, Outbox& out) {
    std::vector<std::string> topics = {t.availability(node), t.info(node), t.dcAlwaysOn(node)};
    for (int o = 0; o < kOutputs; ++o) topics.push_back(t.power(node, o));
    for (int c = 0; c < kChannels; ++c) {
        topics.push_back(t.analog(node, c));
        topics.push_back(t.analogParms(node, c));
    }
    for (int p = 0; p < kPorts; ++p) topics.push_back(t.portLine(node, p));
    for (const std::string& topic : topics) out.publish(topic, "", kStateQos, true);
}

}  // namespace snmqtt

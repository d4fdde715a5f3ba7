// One node's state topics: its availability, outputs, analog readings,
// parameter words, port lines and identity, each published when it is due
// and the bus's budget allows; what the budget holds back stays due.
#pragma once

#include <string>

#include "nodePoller.h"
#include "outbox.h"
#include "publishPolicy.h"
#include "topics.h"

namespace snmqtt {

class ChannelSettings;

class NodeStatePublisher {
public:
    NodeStatePublisher(const Topics& topics, std::string node, const ChannelSettings& channels,
                       double interval, double maxAge);

    // Online while the node answered within three intervals.
    bool available(const snpoll::NodeStatus& status, double now) const;
    void publish(const snpoll::NodeStatus& status, double now, Outbox& out, PublishBudget& budget);
    // A command's outcome is shown at once, even when nothing changed.
    void republishOutputs();
    void forget() { values_.forget(); }

private:
    bool offer(const std::string& topic, const std::string& text, double now, Outbox& out,
               PublishBudget& budget);
    bool offerNumber(const std::string& topic, long value, unsigned deadband, double now,
                     Outbox& out, PublishBudget& budget);
    bool publishOutputs(const snpoll::NodeStatus& status, double now, Outbox& out,
                        PublishBudget& budget);
    bool publishIdentity(const snpoll::NodeStatus& status, double now, Outbox& out,
                         PublishBudget& budget);
    void publishAnalogs(const snpoll::NodeStatus& status, double now, Outbox& out,
                        PublishBudget& budget);

    const Topics& topics_;
    const std::string node_;
    const ChannelSettings& channels_;
    const double interval_;
    const double maxAge_;
    PublishedValues values_;
    double firstPublish_ = -1;
};

// A node's retained state topics emptied, when it leaves the bridge.
void clearNodeTopics(const Topics& topics, const std::string& node, Outbox& out);

// The identity and settings as one JSON object.
std::string infoJson(const snpoll::NodeStatus& status);
// "115200 8N1"
std::string lineText(const snrelay::PortLine& line);

}  // namespace snmqtt

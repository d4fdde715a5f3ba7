// An Outbox onto a broker connection: how the bridge and the edge node
// reach their connections.
#pragma once

#include "brokerConnection.h"
#include "outbox.h"

namespace snmqtt {

class ConnectionOutbox : public Outbox {
public:
    explicit ConnectionOutbox(BrokerConnection& connection) : connection_(connection) {}
    bool publish(const std::string& topic, std::string_view payload, int qos,
                 bool retain) override {
        return connection_.publish(topic, payload, qos, retain);
    }
    bool reply(const ReplyTo& to, std::string_view payload) override {
        InboundMessage request;
        request.responseTopic = to.topic;
        request.correlation = to.correlation;
        request.hasResponseTopic = true;
        return connection_.respond(request, payload);
    }
    bool connected() const override { return connection_.connected(); }

private:
    BrokerConnection& connection_;
};

}  // namespace snmqtt

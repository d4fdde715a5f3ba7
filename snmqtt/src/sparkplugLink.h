// The edge node's own connection to the broker, beside the plain topics'
// one: MQTT gives a connection a single will, and the edge node's must be
// its NDEATH.  Clean sessions, a new bdSeq for every attempt to connect,
// and the NDEATH sent before a planned disconnect.
#pragma once

#include <cstdint>

#include "birthDeathSequence.h"
#include "brokerConnection.h"
#include "connectionOutbox.h"
#include "mqttOptions.h"
#include "nodeHub.h"
#include "sparkplugEdge.h"

namespace snmqtt {

class SparkplugLink {
public:
    // `plain`: the plain connection's settings, which this one follows but
    // for its client id (CLIENTID-sparkplug), session and will.  Throws
    // std::runtime_error when the bdSeq cannot be kept.
    SparkplugLink(const MqttOptions& options, NodeHub& hub, ConnectionSettings plain);

    BrokerConnection& connection() { return connection_; }
    void tick(double now) { edge_.tick(now); }
    // The NDEATH, then a clean disconnect.
    void stop(double now);

private:
    static void log(const std::string& line);

    BirthDeathSequence sequence_;
    BrokerConnection connection_;
    ConnectionOutbox outbox_;
    SparkplugEdge edge_;
    uint8_t bdSeq_ = 0;  // of the connection now made or being made
};

}  // namespace snmqtt

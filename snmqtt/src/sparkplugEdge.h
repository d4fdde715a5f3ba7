// snmqtt as a Sparkplug B edge node: every bridged node a device of it.
// Its session starts with an NBIRTH (seq 0, the connection's bdSeq) and
// the births of the devices that answer; each later message takes the
// next seq, modulo 256.  A host's DCMD switches outputs through the
// shared pollers and is confirmed by a DDATA of what was read back; an
// NCMD asks for the births again.  Runs on the program's loop thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mqttOptions.h"
#include "nodeHub.h"
#include "outbox.h"
#include "sparkplugDevice.h"
#include "sparkplugPayload.h"
#include "sparkplugTopics.h"

namespace snmqtt {

class SparkplugEdge {
public:
    using Log = std::function<void(const std::string&)>;
    SparkplugEdge(const MqttOptions& options, EdgeNodeId id, NodeHub& hub, Outbox& out, Log log);

    struct Subscription {
        std::string filter;
        int qos;
    };
    std::vector<Subscription> subscriptions() const;
    const SparkplugTopics& topics() const { return topics_; }
    // The NDEATH a connection with this bdSeq leaves as its will.
    std::string deathPayload(uint8_t bdSeq, double now) const;

    // After every connect, subscriptions made: a new session.
    void connected(uint8_t bdSeq, double now);
    void message(const std::string& topic, std::string_view payload, double now);
    void tick(double now);
    // Before a planned disconnect: the NDEATH the broker will not send.
    void stopping(double now);

private:
    bool send(const std::string& topic, PayloadContent content);
    bool birth(double now);
    void deviceCommand(const std::string& device, std::string_view payload);
    void nodeCommand(std::string_view payload, double now);
    void finishCommands();

    const MqttOptions& options_;
    const SparkplugTopics topics_;
    NodeHub& hub_;
    Outbox& out_;
    Log log_;
    std::vector<std::unique_ptr<SparkplugDevice>> devices_;  // as the hub's nodes
    uint8_t bdSeq_ = 0;
    uint8_t seq_ = 0;           // of the next message
    bool sessionBorn_ = false;  // the NBIRTH of this session went out
};

}  // namespace snmqtt

#include "sparkplugLink.h"

#include <chrono>
#include <cstdio>

namespace snmqtt {

namespace {

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ConnectionSettings edgeSettings(ConnectionSettings settings) {
    settings.clientId += "-sparkplug";
    settings.cleanStart = true;
    settings.sessionExpirySeconds = 0;
    settings.will = {};  // each attempt's own, from onAttempt
    return settings;
}

}  // namespace

SparkplugLink::SparkplugLink(const MqttOptions& options, NodeHub& hub, ConnectionSettings plain)
    : sequence_(options.stateDir, options.sparkplugId, log),
      connection_(edgeSettings(std::move(plain)), "snmqtt: sparkplug"),
      outbox_(connection_),
      edge_(options, options.sparkplugId, hub, outbox_, log) {
    connection_.onAttempt([this] {
        bdSeq_ = sequence_.next();
        return Will{edge_.topics().node("NDEATH"), edge_.deathPayload(bdSeq_, wallSeconds()), 1,
                    false};
    });
    connection_.onConnected([this] {
        for (const auto& [filter, qos] : edge_.subscriptions()) connection_.subscribe(filter, qos);
        edge_.connected(bdSeq_, wallSeconds());
    });
    connection_.onMessage(
        [this](const InboundMessage& m) { edge_.message(m.topic, m.payload, wallSeconds()); });
}

void SparkplugLink::stop(double now) {
    edge_.stopping(now);
    connection_.disconnect();
}

void SparkplugLink::log(const std::string& line) {
    std::fprintf(stderr, "snmqtt: sparkplug: %s\n", line.c_str());
}

}  // namespace snmqtt

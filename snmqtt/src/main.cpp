// snmqtt: every node on an MQTT broker.
#include <snLib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "brokerConnection.h"
#include "connectionOutbox.h"
#include "mqttBridge.h"
#include "mqttOptions.h"
#include "nodeHub.h"
#include "snVersion.h"
#include "sncommon/stopSignals.h"
#include "sparkplugLink.h"

namespace {

using namespace std::chrono_literals;

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

snmqtt::ConnectionSettings settingsOf(const snmqtt::MqttOptions& o) {
    snmqtt::ConnectionSettings settings;
    settings.broker = o.broker;
    settings.clientId = o.clientId;
    settings.username = o.username;
    if (!o.passwordFile.empty()) settings.password = snmqtt::readPasswordFile(o.passwordFile);
    settings.cafile = o.cafile;
    settings.certfile = o.certfile;
    settings.keyfile = o.keyfile;
    settings.will = {o.baseTopic + "/bridge/state", "offline", 1, true};
    return settings;
}

snmqtt::Inbound inboundOf(const snmqtt::InboundMessage& m) {
    snmqtt::Inbound in{m.topic, m.payload, std::nullopt, m.retained};
    if (m.hasResponseTopic) in.replyTo = snmqtt::ReplyTo{m.responseTopic, m.correlation};
    return in;
}

void drain(int fd) {
    uint64_t count = 0;
    while (read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
    }
}

// The plain topics' bridge on its connection.
void wire(snmqtt::BrokerConnection& connection, snmqtt::MqttBridge& bridge) {
    connection.onConnected([&] {
        for (const auto& [filter, qos] : bridge.subscriptions()) connection.subscribe(filter, qos);
        bridge.connected(wallSeconds());
    });
    connection.onMessage(
        [&](const snmqtt::InboundMessage& m) { bridge.message(inboundOf(m), wallSeconds()); });
}

int serve(const snmqtt::MqttOptions& options) {
    const sncommon::StopSignals signals;  // before any thread, so all block them
    std::signal(SIGPIPE, SIG_IGN);        // a broken TLS connection is an error, not an end
    initSensorNodeLib();
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) throw std::runtime_error("cannot make an event descriptor");
    std::unique_ptr<snmqtt::BrokerConnection> connection;
    if (options.plain)
        connection = std::make_unique<snmqtt::BrokerConnection>(settingsOf(options), "snmqtt");
    int stopSignal = 0;
    {
        snmqtt::NodeHub hub(options.targets, options.interval, [wakeFd] {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
        });
        std::vector<snmqtt::BrokerConnection*> connections;
        std::unique_ptr<snmqtt::ConnectionOutbox> outbox;
        std::unique_ptr<snmqtt::MqttBridge> bridge;
        if (connection) {
            outbox = std::make_unique<snmqtt::ConnectionOutbox>(*connection);
            bridge = std::make_unique<snmqtt::MqttBridge>(options, hub, *outbox);
            wire(*connection, *bridge);
            connections.push_back(connection.get());
        }
        std::unique_ptr<snmqtt::SparkplugLink> sparkplug;
        if (options.sparkplug) {
            sparkplug = std::make_unique<snmqtt::SparkplugLink>(options, hub, settingsOf(options));
            connections.push_back(&sparkplug->connection());
        }
        std::fprintf(stderr, "snmqtt: bridging %zu node%s to %s\n", options.targets.size(),
                     options.targets.size() == 1 ? "" : "s", options.brokerText.c_str());
        while ((stopSignal = signals.take()) == 0) {
            const auto within =
                std::chrono::duration<double>(bridge ? bridge->nextTickWithin() : 0.1);
            snmqtt::BrokerConnection::serviceAll(
                connections, std::chrono::ceil<std::chrono::milliseconds>(within), wakeFd);
            drain(wakeFd);
            if (bridge) bridge->tick(wallSeconds());
            if (sparkplug) sparkplug->tick(wallSeconds());
        }
        if (bridge) bridge->stopping();
        if (sparkplug) sparkplug->stop(wallSeconds());
        // While the bridge still is: what arrives during the goodbye reaches it.
        if (connection) connection->disconnect();
    }
    close(wakeFd);
    std::fprintf(stderr, "snmqtt: stopped on signal %d\n", stopSignal);
    // A second signal during the goodbye would end the program once they
    // are unblocked again, with its status instead of 0.
    while (signals.take() != 0) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const snmqtt::MqttOptions options =
            snmqtt::parseMqttOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(snmqtt::usageText(), stdout);
            return 0;
        }
        if (options.version) {
            std::printf("snmqtt (snLib) %s\n", SN_VERSION);
            return 0;
        }
        return serve(options);
    } catch (const snmqtt::OptionError& error) {
        std::fprintf(stderr, "snmqtt: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "snmqtt: %s\n", error.what());
        return 1;
    }
}

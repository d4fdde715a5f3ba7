// snmqtt's command line.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "brokerAddress.h"
#include "channelSettings.h"
#include "sncommon/longOptions.h"
#include "sncommon/nodeTarget.h"
#include "sparkplugTopics.h"

namespace snmqtt {

inline constexpr double kDefaultInterval = 1.0;
inline constexpr double kDefaultMaxAge = 60.0;
inline constexpr double kDefaultPublishRate = 100.0;

// A virtual port carried over the broker.
struct RelayedPort {
    std::string node;
    int port = 0;
};

struct MqttOptions {
    BrokerAddress broker;
    std::string brokerText;  // as given, for the log
    bool brokerGiven = false;
    std::vector<sncommon::NodeTarget> targets;
    std::string baseTopic = "snlib";
    std::string discoveryPrefix = "homeassistant";
    bool discovery = true;
    double interval = kDefaultInterval;        // seconds between a node's polls
    double maxAge = kDefaultMaxAge;            // seconds a published value may stand unrepeated
    double publishRate = kDefaultPublishRate;  // publishes a second, a bus
    ChannelSettings channels;
    std::vector<RelayedPort> ports;
    std::string clientId;  // default: snmqtt-HOSTNAME
    std::string username;
    std::string passwordFile;
    std::string cafile;
    std::string certfile;
    std::string keyfile;
    bool readOnly = false;
    bool plain = true;  // the plain topics and discovery
    bool sparkplug = false;
    EdgeNodeId sparkplugId;  // default edge: the host name
    std::string stateDir;    // default: defaultStateDirectory()
    bool help = false;
    bool version = false;
};

using OptionError = sncommon::OptionError;

const char* usageText();

// Throws OptionError naming what was expected.
MqttOptions parseMqttOptions(const std::vector<std::string>& args);

// The password file's first line, without its line end; throws OptionError.
std::string readPasswordFile(const std::string& path);

}  // namespace snmqtt

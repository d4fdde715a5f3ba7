#include "mqttOptions.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "birthDeathSequence.h"
#include "snLimits.h"
#include "topics.h"

namespace snmqtt {

namespace {

// `range` says it in words: "seconds from 0.1 to 3600".
double numberIn(const std::string& name, const std::string& value, double lowest, double highest,
                const char* range) {
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(number >= lowest && number <= highest))
        throw OptionError(name + " needs " + range + ", not '" + value + "'");
    return number;
}

void addTarget(MqttOptions& options, const std::string& value) {
    try {
        sncommon::addNodeTarget(options.targets, value, SN_MAX_NODES);
    } catch (const sncommon::TargetError& error) {
        throw OptionError(error.what());
    }
}

// NAME/P, or NAME/* for all three.
void addPort(MqttOptions& options, const std::string& value) {
    const auto slash = value.rfind('/');
    const std::string which = slash == std::string::npos ? "" : value.substr(slash + 1);
    const std::string node = slash == std::string::npos ? "" : value.substr(0, slash);
    if (node.empty() ||
        (which != "*" && (which.size() != 1 || which[0] < '0' || which[0] >= '0' + kPorts)))
        throw OptionError("--port needs NAME/P with P 0 to 2, or NAME/*, not '" + value + "'");
    for (int p = 0; p < kPorts; ++p)
        if (which == "*" || which[0] == '0' + p) options.ports.push_back({node, p});
}

void setBroker(MqttOptions& options, const std::string& value) {
    std::string why;
    const auto broker = parseBrokerAddress(value, why);
    if (!broker) throw OptionError("--broker: " + why);
    options.broker = *broker;
    options.brokerText = value;
    options.brokerGiven = true;
}

void setTopic(std::string& field, const std::string& name, const std::string& value) {
    if (!validBaseTopic(value))
        throw OptionError(name + " needs topic levels without '+', '#' or empty levels, not '" +
                          value + "'");
    field = value;
}

void setFile(std::string& field, const std::string& name, const std::string& value) {
    if (value.empty()) throw OptionError(name + " needs a file");
    field = value;
}

std::string hostName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return "";
    return host;
}

std::string defaultClientId() {
    const std::string host = hostName();
    return host.empty() ? "snmqtt" : "snmqtt-" + host;
}

void setSparkplug(MqttOptions& options, const std::string& value) {
    std::string why;
    const auto id = parseEdgeNodeId(value, hostName(), why);
    if (!id) throw OptionError("--sparkplug needs GROUP[/EDGE]: " + why + ", not '" + value + "'");
    options.sparkplugId = *id;
    options.sparkplug = true;
}

void apply(MqttOptions& o, const std::string& name, const std::string& value) {
    try {
        if (name == "--broker") return setBroker(o, value);
        if (name == "--target") return addTarget(o, value);
        if (name == "--base-topic") return setTopic(o.baseTopic, name, value);
        if (name == "--discovery-prefix") return setTopic(o.discoveryPrefix, name, value);
        if (name == "--interval")
            return void(o.interval = numberIn(name, value, 0.1, 3600, "seconds from 0.1 to 3600"));
        if (name == "--max-age")
            return void(o.maxAge = numberIn(name, value, 1, 86400, "seconds from 1 to 86400"));
        if (name == "--max-rate")
            return void(o.publishRate = numberIn(name, value, 1, 100000,
                                                 "publishes a second from 1 to 100000"));
        if (name == "--channel") return o.channels.addChannel(value);
        if (name == "--deadband") return o.channels.addDeadband(value);
        if (name == "--port") return addPort(o, value);
        if (name == "--sparkplug") return setSparkplug(o, value);
        if (name == "--state-dir") {
            if (value.empty()) throw OptionError("--state-dir needs a directory");
            o.stateDir = value;
            return;
        }
        if (name == "--client-id") {
            if (value.empty() || value.size() > 64)
                throw OptionError("--client-id needs 1 to 64 characters");
            o.clientId = value;
            return;
        }
        if (name == "--username") return void(o.username = value);
        if (name == "--password-file") return setFile(o.passwordFile, name, value);
        if (name == "--cafile") return setFile(o.cafile, name, value);
        if (name == "--cert") return setFile(o.certfile, name, value);
        if (name == "--key") return setFile(o.keyfile, name, value);
    } catch (const std::invalid_argument& error) {
        throw OptionError(name + ": " + error.what());
    }
    if (name == "--password")
        throw OptionError(
            "--password is not taken: a password on the command line is seen by "
            "every user of the machine; use --password-file FILE");
    throw OptionError("unknown option '" + name + "' (see snmqtt --help)");
}

void checkTogether(const MqttOptions& o) {
    if (!o.brokerGiven)
        throw OptionError("--broker mqtt://HOST[:PORT] is needed (see snmqtt --help)");
    if (o.targets.empty())
        throw OptionError("at least one --target NAME=DEVICE is needed (see snmqtt --help)");
    for (const auto& target : o.targets)
        if (target.name == "bridge")
            throw OptionError("a node cannot be named 'bridge': its topics are the bridge's own");
    for (const RelayedPort& port : o.ports) {
        bool known = false;
        for (const auto& target : o.targets) known = known || target.name == port.node;
        if (!known) throw OptionError("--port names no target '" + port.node + "'");
    }
    if (o.readOnly && !o.ports.empty())
        throw OptionError("--port takes bytes to send from the broker; --read-only takes none");
    if (o.certfile.empty() != o.keyfile.empty()) throw OptionError("--cert and --key go together");
    if (!o.broker.tls && (!o.cafile.empty() || !o.certfile.empty()))
        throw OptionError("--cafile, --cert and --key need an mqtts:// broker");
    if (!o.passwordFile.empty() && o.username.empty())
        throw OptionError("--password-file needs --username");
    if (!o.plain && !o.sparkplug)
        throw OptionError("--no-plain leaves nothing to publish without --sparkplug");
    if (!o.plain && !o.ports.empty())
        throw OptionError("--port carries bytes on the plain topics, which --no-plain turns off");
}

}  // namespace

const char* usageText() {
    return "usage: snmqtt --broker mqtt[s]://HOST[:PORT] --target NAME=DEVICE[,slave=N]...\n"
           "              [--base-topic TOPIC] [--discovery-prefix TOPIC] [--no-discovery]\n"
           "              [--interval SECONDS] [--max-age SECONDS] [--max-rate N]\n"
           "              [--deadband [NAME/]C=COUNTS]... [--channel "
           "[NAME/]C:LABEL[:UNIT[:SCALE[:OFFSET]]]]...\n"
           "              [--port NAME/P]... [--read-only] [--client-id ID]\n"
           "              [--username USER --password-file FILE] [--cafile FILE] [--cert FILE "
           "--key FILE]\n"
           "              [--sparkplug GROUP[/EDGE] [--state-dir DIR] [--no-plain]]\n"
           "  Every node on an MQTT broker: its power outputs, analog inputs and identity,\n"
           "  commands read back from the node before they are confirmed, Home Assistant\n"
           "  discovery, and virtual ports as byte topics.\n"
           "  --broker           the broker; mqtts:// for TLS (default ports 1883, 8883)\n"
           "  --target           a node by name: a serial DEVICE or tcp:HOST:PORT through snbusd\n"
           "  --base-topic       the topics' first levels (default snlib)\n"
           "  --discovery-prefix Home Assistant's discovery topic (default homeassistant)\n"
           "  --no-discovery     publish no discovery configs\n"
           "  --interval         seconds between a node's polls, 0.1 to 3600 (default 1)\n"
           "  --max-age          seconds after which an unchanged value is published again "
           "(default 60)\n"
           "  --max-rate         publishes a second on one bus, at most (default 100)\n"
           "  --deadband         counts a channel must change by to be published (default 0)\n"
           "  --channel          a channel's name, unit and linear scale in Home Assistant\n"
           "  --port             carry virtual port P of node NAME (NAME/* for all three)\n"
           "  --read-only        publish only: subscribe to no command topic\n"
           "  --client-id        the MQTT client id (default snmqtt-HOSTNAME)\n"
           "  --username         user name at the broker, its password in --password-file\n"
           "  --cafile           the CA certificate that signed an mqtts:// broker's\n"
           "  --cert, --key      this client's certificate and key, for brokers that ask\n"
           "  --sparkplug        also a Sparkplug B edge node GROUP/EDGE (EDGE: the host name),\n"
           "                     each target a device, on a connection of its own\n"
           "  --state-dir        where Sparkplug's bdSeq is kept (default $STATE_DIRECTORY,\n"
           "                     else /var/lib/snmqtt)\n"
           "  --no-plain         no plain topics and no discovery: Sparkplug alone\n"
           "  Runs until SIGINT/SIGTERM, publishing the bridge offline before it stops.\n";
}

MqttOptions parseMqttOptions(const std::vector<std::string>& args) {
    MqttOptions options;
    const auto flag = [&](const std::string& arg) {
        if (arg == "--help" || arg == "-h") return options.help = true;
        if (arg == "--version") return options.version = true;
        if (arg == "--read-only") return options.readOnly = true;
        if (arg == "--no-discovery") return !(options.discovery = false);
        if (arg == "--no-plain") return !(options.plain = false);
        return false;
    };
    sncommon::walkLongOptions(
        args, "snmqtt", flag,
        [&](const std::string& name, const std::string& value) { apply(options, name, value); });
    if (options.help || options.version) return options;
    checkTogether(options);
    if (options.clientId.empty()) options.clientId = defaultClientId();
    if (options.sparkplug && options.stateDir.empty()) options.stateDir = defaultStateDirectory();
    return options;
}

std::string readPasswordFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        throw OptionError("cannot read the password from '" + path + "'");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace snmqtt

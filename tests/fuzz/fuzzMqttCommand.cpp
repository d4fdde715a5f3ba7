// What snmqtt takes from a broker and a command line: a command's topic and
// payload, and the --channel and --deadband options.  Whatever arrives,
// nothing crashes, what passes is within the node's bounds, a refusal is
// one printable line, and every discovery config stays valid JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "channelSettings.h"
#include "commandPayload.h"
#include "discovery.h"
#include "snLimits.h"
#include "topics.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

void checkCommand(const snpoll::Command& c) {
    using snpoll::Action;
    switch (c.action) {
        case Action::Power:
        case Action::PowerToggle:
            check(c.index >= 0 && c.index < snmqtt::kOutputs);
            break;
        case Action::Blink:
            check(c.value >= 0 && c.value <= 2);
            break;
        case Action::AnalogParms:
            check(c.index >= 0 && c.index < snmqtt::kChannels);
            break;
        case Action::PortLine:
            check(c.index >= 0 && c.index < snmqtt::kPorts);
            check(c.value >= SN_MIN_PORT_SPEED && c.value <= SN_MAX_PORT_SPEED);
            check(c.parity == 'N' || c.parity == 'E' || c.parity == 'O');
            check(c.stopBits == 1 || c.stopBits == 2);
            break;
        default:
            break;
    }
}

void checkRefusal(const std::string& refusal) {
    check(refusal.size() < 400);
    for (const char c : refusal) check(c >= 0x20 && c < 0x7F);
}

void checkTopic(std::string_view topicText, std::string_view payload) {
    static const snmqtt::Topics topics("snlib");
    const auto topic = topics.parseCommand(topicText);
    if (!topic) return;
    // Blink and DC always on have no index to be wrong.
    if (topic->kind == snmqtt::CommandKind::Blink || topic->kind == snmqtt::CommandKind::DcAlwaysOn)
        check(topic->refusal.empty());
    const auto parsed = snmqtt::parseMqttCommand(*topic, payload);
    check(parsed.command.has_value() == (parsed.kind == snmqtt::RefusalKind::None));
    if (parsed.command) checkCommand(*parsed.command);
    checkRefusal(parsed.refusal);
    const auto tx = snmqtt::checkPortTx(*topic, payload);
    checkRefusal(tx.refusal);
}

// The payload as both options; a node's configs from a look that was taken.
void checkOptions(std::string_view option) {
    snmqtt::ChannelSettings settings;
    try {
        settings.addDeadband(option);
    } catch (const std::invalid_argument& error) {
        checkRefusal(error.what());
    }
    try {
        settings.addChannel(option);
    } catch (const std::invalid_argument& error) {
        checkRefusal(error.what());
        return;
    }
    static const snmqtt::Topics topics("snlib");
    const snmqtt::DiscoveryContext context{"homeassistant", &topics, "snmqtt_fuzz", false};
    for (const auto& m : snmqtt::nodeConfigs(context, {"rack1", 1, 2}, settings))
        if (!m.payload.empty())
            check(!nlohmann::json::parse(m.payload, nullptr, false).is_discarded());
}

}  // namespace

// The first line is the topic, the rest its payload.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view topic = input.substr(0, split);
    const std::string_view payload =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    checkTopic(topic, payload);
    checkOptions(payload);
    return 0;
}

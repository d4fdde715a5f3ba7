#include "commandPayload.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <vector>

#include "printableText.h"
#include "snLimits.h"
#include "sncommon/integerParsing.h"

namespace snmqtt {

namespace {

using snpoll::Action;
using snpoll::Command;

// Enough to recognise what was sent without flooding the log.
constexpr std::size_t kEchoedPayload = 40;
constexpr std::size_t kEchoedNode = 64;
constexpr std::size_t kEchoedIndex = 80;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool sameWord(std::string_view text, std::string_view word) {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
           });
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (at < text.size()) {
        if (blank(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !blank(text[end])) ++end;
        found.push_back(text.substr(at, end - at));
        at = end;
    }
    return found;
}

// The topic below the base, as a user wrote it: "rack1/power/1/set".
std::string topicName(const CommandTopic& t) {
    const std::string node = printableExcerpt(t.node, kEchoedNode) + "/";
    const std::string index = std::to_string(t.index);
    switch (t.kind) {
        case CommandKind::Power:
            return node + "power/" + index + "/set";
        case CommandKind::Blink:
            return node + "blink/set";
        case CommandKind::DcAlwaysOn:
            return node + "dc/set";
        case CommandKind::AnalogParms:
            return node + "analog/" + index + "/parms/set";
        case CommandKind::PortTx:
            return node + "port/" + index + "/tx";
        case CommandKind::PortLine:
            return node + "port/" + index + "/line/set";
    }
    return node + "?";
}

ParsedMqttCommand refuse(RefusalKind kind, std::string why) {
    return {std::nullopt, kind, std::move(why)};
}

ParsedMqttCommand badPayload(const CommandTopic& t, std::string_view payload,
                             const std::string& wanted) {
    return refuse(RefusalKind::BadPayload, topicName(t) + ": payload '" +
                                               printableExcerpt(payload, kEchoedPayload) +
                                               "' is not " + wanted);
}

// The index was refused with the topic; the refusal quotes its text as it
// came from the broker, bytes of any value and any length.
std::string outOfRange(const CommandTopic& t) {
    return printableExcerpt(t.node, kEchoedNode) + ": " + printableExcerpt(t.refusal, kEchoedIndex);
}

std::string tooLarge(const CommandTopic& t, std::size_t size, std::size_t most) {
    return topicName(t) + ": payload of " + std::to_string(size) + " bytes is over " +
           std::to_string(most);
}

std::optional<bool> onOff(std::string_view text) {
    if (sameWord(text, "ON") || text == "1") return true;
    if (sameWord(text, "OFF") || text == "0") return false;
    return std::nullopt;
}

std::optional<Command> power(const CommandTopic& t, std::string_view text) {
    Command c;
    c.index = t.index;
    if (sameWord(text, "TOGGLE")) {
        c.action = Action::PowerToggle;
        return c;
    }
    const std::optional<bool> on = onOff(text);
    if (!on) return std::nullopt;
    c.action = Action::Power;
    c.value = *on ? 1 : 0;
    return c;
}

std::optional<Command> blink(std::string_view text) {
    const std::optional<long> pattern = sncommon::parseInteger(text, 0, 2);
    if (!pattern) return std::nullopt;
    Command c;
    c.action = Action::Blink;
    c.value = *pattern;
    return c;
}

std::optional<Command> dcAlwaysOn(std::string_view text) {
    const std::optional<bool> on = onOff(text);
    if (!on) return std::nullopt;
    Command c;
    c.action = Action::DcAlwaysOn;
    c.value = *on ? 1 : 0;
    return c;
}

// [W0, W1] as JSON: whole numbers only, 1.0 is no register word.
std::optional<std::vector<long>> jsonWords(std::string_view text) {
    const auto parsed = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_array()) return std::nullopt;
    std::vector<long> found;
    for (const auto& word : parsed) {
        if (!word.is_number_unsigned() || word.get<unsigned long>() > 0xFFFF) return std::nullopt;
        found.push_back(word.get<long>());
    }
    return found;
}

std::optional<std::vector<long>> plainWords(std::string_view text) {
    std::vector<long> found;
    for (const std::string_view word : words(text)) {
        const std::optional<long> value = sncommon::parseInteger(word, 0, 0xFFFF);
        if (!value) return std::nullopt;
        found.push_back(*value);
    }
    return found;
}

std::optional<Command> analogParms(const CommandTopic& t, std::string_view text) {
    const auto found = !text.empty() && text.front() == '[' ? jsonWords(text) : plainWords(text);
    if (!found || found->size() != 2) return std::nullopt;
    Command c;
    c.action = Action::AnalogParms;
    c.index = t.index;
    c.words[0] = static_cast<uint16_t>((*found)[0]);
    c.words[1] = static_cast<uint16_t>((*found)[1]);
    return c;
}

// "8N1": the node's ports always carry 8 data bits, so only 8 is taken.
bool frameFormat(std::string_view text, Command& c) {
    if (text.size() != 3 || text[0] != '8') return false;
    const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    if (parity != 'N' && parity != 'E' && parity != 'O') return false;
    if (text[2] != '1' && text[2] != '2') return false;
    c.parity = parity;
    c.stopBits = text[2] - '0';
    return true;
}

// Up to SN_MAX_PORT_SPEED: the node keeps a quarter of the speed in 16
// bits, so a faster one would be cut to a wrong speed, not refused.
std::optional<Command> portLine(const CommandTopic& t, std::string_view text) {
    const std::vector<std::string_view> parts = words(text);
    if (parts.empty() || parts.size() > 2) return std::nullopt;
    const std::optional<long> speed =
        sncommon::parseInteger(parts[0], SN_MIN_PORT_SPEED, SN_MAX_PORT_SPEED);
    if (!speed) return std::nullopt;
    Command c;
    c.action = Action::PortLine;
    c.index = t.index;
    c.value = *speed;
    if (parts.size() == 2 && !frameFormat(parts[1], c)) return std::nullopt;
    return c;
}

std::string wantedBy(CommandKind kind) {
    switch (kind) {
        case CommandKind::Power:
            return "ON, OFF or TOGGLE";
        case CommandKind::Blink:
            return "a blink pattern 0-2";
        case CommandKind::DcAlwaysOn:
            return "ON or OFF";
        case CommandKind::AnalogParms:
            return "two words 0-65535 ('W0 W1' or [W0, W1])";
        case CommandKind::PortLine:
            return "'SPEED' or 'SPEED 8N1' (speed " + std::to_string(SN_MIN_PORT_SPEED) + "-" +
                   std::to_string(SN_MAX_PORT_SPEED) + ", parity N, E or O, 1 or 2 stop bits)";
        case CommandKind::PortTx:
            break;
    }
    return "a command";
}

std::optional<Command> commandOf(const CommandTopic& t, std::string_view text) {
    switch (t.kind) {
        case CommandKind::Power:
            return power(t, text);
        case CommandKind::Blink:
            return blink(text);
        case CommandKind::DcAlwaysOn:
            return dcAlwaysOn(text);
        case CommandKind::AnalogParms:
            return analogParms(t, text);
        case CommandKind::PortLine:
            return portLine(t, text);
        case CommandKind::PortTx:
            break;
    }
    return std::nullopt;
}

}  // namespace

ParsedMqttCommand parseMqttCommand(const CommandTopic& topic, std::string_view payload) {
    if (!topic.refusal.empty()) return refuse(RefusalKind::OutOfRange, outOfRange(topic));
    if (topic.kind == CommandKind::PortTx)
        return refuse(RefusalKind::NotACommand, topicName(topic) + ": bytes, not a command");
    if (payload.size() > kLargestCommandPayload)
        return refuse(RefusalKind::TooLarge,
                      tooLarge(topic, payload.size(), kLargestCommandPayload));
    std::optional<Command> command = commandOf(topic, trimmed(payload));
    if (!command) return badPayload(topic, payload, wantedBy(topic.kind));
    return {command, RefusalKind::None, ""};
}

CheckedPortTx checkPortTx(const CommandTopic& topic, std::string_view payload) {
    if (topic.kind != CommandKind::PortTx)
        return {RefusalKind::BadPayload, topicName(topic) + ": not a port's tx topic"};
    if (!topic.refusal.empty()) return {RefusalKind::OutOfRange, outOfRange(topic)};
    if (payload.size() > kLargestPortTxPayload)
        return {RefusalKind::TooLarge, tooLarge(topic, payload.size(), kLargestPortTxPayload)};
    return {};
}

}  // namespace snmqtt

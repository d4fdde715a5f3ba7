#include "actions.h"

#include <nlohmann/json.hpp>

#include "snLimits.h"

namespace snweb {

namespace {

using nlohmann::json;

// A whole number at `key` within [min, max], or nothing.
std::optional<long> integerAt(const json& body, const char* key, long min, long max) {
    const auto found = body.find(key);
    if (found == body.end() || !found->is_number_integer()) return std::nullopt;
    const long value = found->get<long>();
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<bool> booleanAt(const json& body, const char* key) {
    const auto found = body.find(key);
    if (found == body.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

ParsedCommand refuse(std::string why) { return {std::nullopt, std::move(why)}; }

ParsedCommand nodeCommand(std::string_view action, const json& body) {
    Command c;
    if (action == "power") {
        const auto output = integerAt(body, "output", 0, SN_POWER_OUTPUTS - 1);
        const auto on = booleanAt(body, "on");
        if (!output || !on) return refuse("power needs {\"output\": 0-3, \"on\": true|false}");
        c.action = Action::Power;
        c.index = static_cast<int>(*output);
        c.value = *on;
    } else if (action == "blink") {
        const auto pattern = integerAt(body, "pattern", 0, 2);
        if (!pattern) return refuse("blink needs {\"pattern\": 0-2}");
        c.action = Action::Blink;
        c.value = *pattern;
    } else if (action == "dc") {
        const auto on = booleanAt(body, "on");
        if (!on) return refuse("dc needs {\"on\": true|false}");
        c.action = Action::DcAlwaysOn;
        c.value = *on;
    } else if (action == "reset") {
        if (booleanAt(body, "confirm") != true) return refuse("reset needs {\"confirm\": true}");
        c.action = Action::ResetConfig;
    } else if (action == "parms") {
        const auto channel = integerAt(body, "channel", 0, SN_ANALOG_CHANNELS - 1);
        const auto words = body.find("words");
        if (!channel || words == body.end() || !words->is_array() || words->size() != 2 ||
            !(*words)[0].is_number_unsigned() || !(*words)[1].is_number_unsigned() ||
            (*words)[0].get<unsigned long>() > 0xFFFF || (*words)[1].get<unsigned long>() > 0xFFFF)
            return refuse("parms needs {\"channel\": 0-7, \"words\": [0-65535, 0-65535]}");
        c.action = Action::AnalogParms;
        c.index = static_cast<int>(*channel);
        c.words[0] = (*words)[0].get<uint16_t>();
        c.words[1] = (*words)[1].get<uint16_t>();
    } else {
        return refuse("no action '" + std::string(action) + "'");
    }
    return {c, ""};
}

ParsedCommand portLine(Command c, const json& body) {
    const auto speed = integerAt(body, "speed", SN_MIN_PORT_SPEED, SN_MAX_PORT_SPEED);
    const auto stop = integerAt(body, "stop", 1, 2);
    const auto parity = body.find("parity");
    if (!speed || !stop || parity == body.end() || !parity->is_string())
        return refuse("line needs {\"speed\": N, \"parity\": \"N\"|\"E\"|\"O\", \"stop\": 1|2}");
    const std::string p = parity->get<std::string>();
    if (p != "N" && p != "E" && p != "O") return refuse("parity is N, E or O");
    c.action = Action::PortLine;
    c.value = *speed;
    c.parity = p[0];
    c.stopBits = static_cast<int>(*stop);
    return {c, ""};
}

ParsedCommand portCommand(const json& body) {
    Command c;
    const auto port = integerAt(body, "port", 0, SN_PORTS - 1);
    const auto what = body.find("do");
    if (!port || what == body.end() || !what->is_string())
        return refuse("port needs {\"port\": 0-2, \"do\": ...}");
    c.index = static_cast<int>(*port);
    const std::string name = what->get<std::string>();
    if (name == "line") return portLine(c, body);
    if (name == "txenable") {
        const auto on = booleanAt(body, "on");
        if (!on) return refuse("txenable needs {\"on\": true|false}");
        c.action = Action::PortTxEnable;
        c.value = *on;
    } else if (name == "flushin") {
        c.action = Action::PortFlushIn;
    } else if (name == "flushout") {
        c.action = Action::PortFlushOut;
    } else if (name == "drain") {
        c.action = Action::PortDrain;
    } else if (name == "break") {
        const auto ms = integerAt(body, "ms", 1, 5000);
        if (!ms) return refuse("break needs {\"ms\": 1-5000}");
        c.action = Action::PortBreak;
        c.value = *ms;
    } else if (name == "clearflags") {
        const auto mask = integerAt(body, "mask", 0, 0x1F);
        if (!mask) return refuse("clearflags needs {\"mask\": 0-31}");
        c.action = Action::PortClearFlags;
        c.value = *mask;
    } else {
        return refuse("no port action '" + name + "'");
    }
    return {c, ""};
}

}  // namespace

ParsedCommand parseCommand(std::string_view action, std::string_view body) {
    if (body.size() > kLargestBody) return refuse("the request is too large");
    const json parsed = json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return refuse("the body is no JSON object");
    if (action == "port") return portCommand(parsed);
    return nodeCommand(action, parsed);
}

}  // namespace snweb

// Node-level commands: identity, power outputs, analog channels and the
// configuration coils and registers.
#include "commandArguments.h"
#include "failure.h"
#include "numberParsing.h"
#include "oneShotCommands.h"

#include <cstdint>
#include <string>

namespace snctl {

namespace {

constexpr long kChannels = SN_ANALOG_CHANNELS;

uint16_t channelArgument(const std::string& text) {
    return static_cast<uint16_t>(requireInteger(text, 0, kChannels - 1, "channel"));
}

void reportParams(Report& report, uint16_t first, uint16_t count, const uint16_t* words) {
    for (uint16_t i = 0; i < count; ++i) {
        report.row("params", "channel", first + i, "words", {words[2 * i], words[2 * i + 1]});
    }
}

void getParams(const Arguments& args, CommandContext& context) {
    expectArgumentCount(args, 1, 3, "params get", "params get [FIRST [COUNT]]");
    const long first =
        args.size() > 1 ? requireInteger(args[1], 0, kChannels - 1, "first channel") : 0;
    const long count = args.size() > 2
                           ? requireInteger(args[2], 1, kChannels - first, "channel count")
                           : kChannels - first;
    uint16_t words[2 * kChannels] = {};
    check(snGetAnalogParms(context.access.node(), static_cast<uint16_t>(first),
                           static_cast<uint16_t>(count), words),
          "cannot read analog parameters");
    reportParams(context.report, static_cast<uint16_t>(first), static_cast<uint16_t>(count), words);
}

void setParams(const Arguments& args, CommandContext& context) {
    const std::string usage = "params set FIRST W1 W2 [W1 W2...] (two words per channel)";
    expectArgumentCount(args, 4, 2 + 2 * kChannels, "params set", usage);
    if (args.size() % 2 != 0) throw UsageError("params set: expected " + usage);
    const long first = requireInteger(args[1], 0, kChannels - 1, "first channel");
    const long count = static_cast<long>(args.size() - 2) / 2;
    if (first + count > kChannels) {
        throw UsageError("params set: channels " + std::to_string(first) + " to " +
                         std::to_string(first + count - 1) + " go past channel 7");
    }
    uint16_t words[2 * kChannels] = {};
    for (std::size_t i = 2; i < args.size(); ++i) {
        words[i - 2] = static_cast<uint16_t>(requireInteger(args[i], 0, 0xFFFF, "parameter word"));
    }
    check(snSetAnalogParms(context.access.node(), static_cast<uint16_t>(first),
                           static_cast<uint16_t>(count), words),
          "cannot write analog parameters");
    reportParams(context.report, static_cast<uint16_t>(first), static_cast<uint16_t>(count), words);
}

}  // namespace

void runInfo(const Arguments& args, CommandContext& context) {
    expectArgumentCount(args, 0, 0, "info", "no arguments");
    SensorNode* node = context.access.node();
    uint16_t serial = 0, revision = 0, hardware = 0, power = 0, timeout = 0;
    uint32_t board = 0;
    check(snGetSerialNum(node, &serial), "cannot read serial number");
    check(snGetSoftwareRev(node, &revision), "cannot read software revision");
    check(snGetBoardConfig(node, &board), "cannot read board configuration");
    check(snGetHwConfig(node, &hardware), "cannot read hardware configuration");
    check(snGetPowerVector(node, &power), "cannot read power vector");
    check(getSensorNodeModbusTimeout(node, &timeout), "cannot read device timeout");
    Report& report = context.report;
    report.number("serial_number", serial);
    report.hex("software_revision", revision, 4);
    report.hex("board_config", board, 8);
    report.hex("hardware_config", hardware, 4);
    report.hex("power_vector", power, 4);
    report.number("device_timeout", timeout);
}

void runPower(const Arguments& args, CommandContext& context) {
    expectArgumentCount(args, 1, 2, "power", "power N [on|off|status] (N = 0-3)");
    const auto output =
        static_cast<uint16_t>(requireInteger(args[0], 0, SN_POWER_OUTPUTS - 1, "power output"));
    bool on = false;
    if (args.size() == 1 || args[1] == "status") {  // no state given: show it
        const int state = snPowerIsOn(context.access.node(), output);
        check(state, "cannot read power output " + args[0]);
        on = state == 1;
    } else {
        on = parseOnOff(args[1], "power " + args[0]);
        check(snPower(context.access.node(), output, on ? 1 : 0),
              "cannot switch power output " + args[0] + (on ? " on" : " off"));
    }
    context.report.number("output", output);
    context.report.text("state", on ? "on" : "off");
}

void runAnalog(const Arguments& args, CommandContext& context) {
    expectArgumentCount(args, 0, static_cast<std::size_t>(kChannels), "analog",
                        "analog [CH...] (CH = 0-7)");
    if (args.empty()) {
        uint16_t values[kChannels] = {};
        check(snAnalogChans(context.access.node(), 0, kChannels, values),
              "cannot read analog channels");
        for (uint16_t c = 0; c < kChannels; ++c)
            context.report.row("channels", "channel", c, "value", {values[c]});
        return;
    }
    std::vector<uint16_t> channels;
    for (const std::string& arg : args) channels.push_back(channelArgument(arg));
    for (const uint16_t c : channels) {
        uint16_t value = 0;
        check(snAnalogChan(context.access.node(), c, &value),
              "cannot read analog channel " + std::to_string(c));
        context.report.row("channels", "channel", c, "value", {value});
    }
}

void runParams(const Arguments& args, CommandContext& context) {
    if (!args.empty() && args[0] == "get") return getParams(args, context);
    if (!args.empty() && args[0] == "set") return setParams(args, context);
    throw UsageError("params: expected get [FIRST [COUNT]] or set FIRST W1 W2 [W1 W2...]");
}

void runBlink(const Arguments& args, CommandContext& context) {
    expectArgumentCount(args, 1, 1, "blink", "blink 0|1|2");
    // The library maps every other number to pattern 2; only the three
    // real choices are accepted here.
    const long pattern = requireInteger(args[0], 0, 2, "blink pattern");
    check(snBlinky(context.access.node(), static_cast<int>(pattern)),
          "cannot set blink pattern " + args[0]);
    context.report.number("blink_pattern", pattern);
}

void runDc(const Arguments& args, CommandContext& context) {
    expectArgumentCount(args, 1, 1, "dc", "dc on|off");
    const bool on = parseOnOff(args[0], "dc");
    check(snSetDCAlwaysOn(context.access.node(), on ? 1 : 0),
          std::string("cannot switch DC always on ") + args[0]);
    context.report.text("dc_always_on", on ? "on" : "off");
}

void runResetConfig(const Arguments& args, CommandContext& context) {
    expectArgumentCount(args, 0, 0, "reset-config", "no arguments");
    check(snResetConfigMode(context.access.node()), "cannot trigger configuration reset");
    context.report.text("reset_config", "triggered");
}

void runTimeout(const Arguments& args, CommandContext& context) {
    const std::string usage = "timeout get | timeout set VALUE (20-65535)";
    uint16_t value = 0;
    if (args.size() == 1 && args[0] == "get") {
        check(getSensorNodeModbusTimeout(context.access.node(), &value),
              "cannot read device timeout");
    } else if (args.size() == 2 && args[0] == "set") {
        value = static_cast<uint16_t>(
            requireInteger(args[1], SN_MIN_DEVICE_TIMEOUT, 0xFFFF, "device timeout"));
        check(setSensorNodeModbusTimeout(context.access.node(), value),
              "cannot set device timeout");
    } else {
        throw UsageError("timeout: expected " + usage);
    }
    context.report.number("device_timeout", value);
}

}  // namespace snctl

// What a page asks a node to do: a POST to /api/node/NAME/ACTION with a
// JSON body, checked here before anything reaches the node.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace snweb {

enum class Action {
    Power,         // index: output 0-3, value: on
    Blink,         // value: pattern 0-2
    DcAlwaysOn,    // value: on
    ResetConfig,   // only with "confirm": true
    AnalogParms,   // index: channel 0-7, words: its two parameter words
    PortLine,      // index: port, value: speed, parity, stopBits
    PortTxEnable,  // index: port, value: on
    PortFlushIn,
    PortFlushOut,
    PortBreak,  // value: milliseconds 1-5000
    PortDrain,
    PortClearFlags,  // value: mask (bits 0-4)
};

struct Command {
    Action action = Action::Power;
    int index = 0;
    long value = 0;
    char parity = 'N';
    int stopBits = 1;
    uint16_t words[2] = {0, 0};
};

inline constexpr std::size_t kLargestBody = 1024;

struct ParsedCommand {
    std::optional<Command> command;
    std::string refusal;  // why not, when no command
};

// `action` is the last part of the path; `body` the request's JSON.
ParsedCommand parseCommand(std::string_view action, std::string_view body);

// What the command does, for the log and the page ("power 3 on").
std::string describe(const Command& command);

}  // namespace snweb

// What a user asks of a node, checked before it reaches the poller that
// carries it out: the same whether it came from a page or a broker.
#pragma once

#include <cstdint>
#include <string>

namespace snpoll {

enum class Action {
    Power,         // index: output 0-3, value: on
    PowerToggle,   // index: output 0-3, switched to the opposite of its coil
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
    uint64_t ticket = 0;  // the caller's own, handed back when it is done
};

// What the command does, for logs and pages ("power 3 on").
std::string describe(const Command& command);

}  // namespace snpoll

// What a command topic's payload asks of a node, checked to the same bounds
// as snweb's commands before the poller sees it.  A refusal is a sentence
// that begins with the node and the topic, fit for the bridge's log.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "nodeCommand.h"
#include "topics.h"

namespace snmqtt {

// Every command fits in a few words; a longer payload is refused unread.
inline constexpr std::size_t kLargestCommandPayload = 256;
// Bytes for a port go out in blocks; more than this in one message is a
// mistake or a flood, not a line typed.
inline constexpr std::size_t kLargestPortTxPayload = 64 * 1024;

// The program logs the first refusal of each kind, so each kind is one
// thing a user can fix.
enum class RefusalKind {
    None,
    BadPayload,   // not what the topic takes ("MAYBE" for a power output)
    OutOfRange,   // the topic's index lies beyond the node (output 9)
    TooLarge,     // over kLargestCommandPayload or kLargestPortTxPayload
    NotACommand,  // a port's tx topic given to parseMqttCommand: see checkPortTx
    UnknownNode,  // set by the caller: no node of that name on this bridge
};

struct ParsedMqttCommand {
    std::optional<snpoll::Command> command;
    RefusalKind kind = RefusalKind::None;
    std::string refusal;
};

// Power: ON, OFF, TOGGLE, 1 or 0.  Blink: 0, 1 or 2.  DC always on: ON,
// OFF, 1 or 0.  Analog parameters: "W0 W1" or [W0, W1], each 0-65535.
// Port line: "SPEED" or "SPEED 8N1" (8 data bits; parity N, E or O; 1 or 2
// stop bits).  Words are case-insensitive, surrounding blanks ignored.
// A port's tx topic is no command: refused NotACommand, never relayed.
ParsedMqttCommand parseMqttCommand(const CommandTopic& topic, std::string_view payload);

// A port's tx payload is bytes relayed as they are: kind None when they may
// go (an empty payload sends nothing), else why not.  A topic of another
// kind is refused BadPayload: its payload is no bytes for a port.
struct CheckedPortTx {
    RefusalKind kind = RefusalKind::None;
    std::string refusal;
};
CheckedPortTx checkPortTx(const CommandTopic& topic, std::string_view payload);

}  // namespace snmqtt

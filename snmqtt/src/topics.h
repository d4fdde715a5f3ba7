// Where everything of a bridge lives on the broker, under its base topic:
// its own state and log, each node's state, and the commands it takes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace snmqtt {

inline constexpr int kOutputs = 4;
inline constexpr int kChannels = 8;
inline constexpr int kPorts = 3;

enum class CommandKind {
    Power,        // <base>/<node>/power/<N>/set
    Blink,        // <base>/<node>/blink/set
    DcAlwaysOn,   // <base>/<node>/dc/set
    AnalogParms,  // <base>/<node>/analog/<C>/parms/set
    PortTx,       // <base>/<node>/port/<P>/tx
    PortLine,     // <base>/<node>/port/<P>/line/set
};

// A topic one of the command filters matched.  `refusal` says what is wrong
// with it when its shape is a command's but its index is not (output 9).
struct CommandTopic {
    std::string node;
    CommandKind kind = CommandKind::Power;
    int index = 0;
    std::string refusal;
};

class Topics {
public:
    explicit Topics(std::string base);

    const std::string& base() const { return base_; }
    std::string bridgeState() const;
    std::string bridgeLog() const;
    std::string bridgeNodes() const;  // the nodes whose discovery configs are out
    std::string availability(std::string_view node) const;
    std::string info(std::string_view node) const;
    std::string power(std::string_view node, int output) const;
    std::string powerSet(std::string_view node, int output) const;
    std::string analog(std::string_view node, int channel) const;
    std::string analogParms(std::string_view node, int channel) const;
    std::string analogParmsSet(std::string_view node, int channel) const;
    std::string blinkSet(std::string_view node) const;
    std::string dcAlwaysOn(std::string_view node) const;
    std::string dcAlwaysOnSet(std::string_view node) const;
    std::string portTx(std::string_view node, int port) const;
    std::string portRx(std::string_view node, int port) const;
    std::string portLine(std::string_view node, int port) const;
    std::string portLineSet(std::string_view node, int port) const;

    // The filters a bridge that takes commands subscribes to.
    std::vector<std::string> commandFilters() const;
    // Nothing when `topic` is no command topic under this base.
    std::optional<CommandTopic> parseCommand(std::string_view topic) const;

private:
    std::string node(std::string_view name) const;

    const std::string base_;
};

// A name fit to be one level of a topic: not empty, no '/', '+', '#' or
// control characters, at most 64 bytes.
bool validTopicLevel(std::string_view name);
// A base topic: one or more valid levels joined by '/'.
bool validBaseTopic(std::string_view base);
// A topic one may publish to: not empty, no wildcards or NUL, at most 1 KiB.
bool validTopicName(std::string_view topic);

}  // namespace snmqtt

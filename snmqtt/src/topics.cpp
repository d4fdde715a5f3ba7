#include "topics.h"

#include <charconv>

namespace snmqtt {

namespace {

constexpr std::size_t kLongestLevel = 64;

std::vector<std::string_view> levelsOf(std::string_view topic) {
    std::vector<std::string_view> levels;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash - start));
        if (slash == std::string_view::npos) return levels;
        start = slash + 1;
    }
}

// A small decimal index, or -1.
int indexOf(std::string_view text) {
    int value = -1;
    if (text.empty() || text.size() > 3) return -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return -1;
    return value;
}

std::string outOfRange(const char* what, std::string_view index, int count) {
    return std::string(what) + " '" + std::string(index) + "' is not 0-" +
           std::to_string(count - 1);
}

// `rest` is what follows <base>/<node>/.
std::optional<CommandTopic> commandOf(std::string_view node,
                                      const std::vector<std::string_view>& rest) {
    CommandTopic c;
    c.node = std::string(node);
    auto indexed = [&](CommandKind kind, const char* what, int count) {
        c.kind = kind;
        c.index = indexOf(rest[1]);
        if (c.index < 0 || c.index >= count) c.refusal = outOfRange(what, rest[1], count);
        return std::optional<CommandTopic>(c);
    };
    if (rest.size() == 2 && rest[1] == "set") {
        if (rest[0] == "blink") return c.kind = CommandKind::Blink, c;
        if (rest[0] == "dc") return c.kind = CommandKind::DcAlwaysOn, c;
    }
    if (rest.size() == 3 && rest[0] == "power" && rest[2] == "set")
        return indexed(CommandKind::Power, "output", kOutputs);
    if (rest.size() == 4 && rest[0] == "analog" && rest[2] == "parms" && rest[3] == "set")
        return indexed(CommandKind::AnalogParms, "channel", kChannels);
    if (rest.size() == 3 && rest[0] == "port" && rest[2] == "tx")
        return indexed(CommandKind::PortTx, "port", kPorts);
    if (rest.size() == 4 && rest[0] == "port" && rest[2] == "line" && rest[3] == "set")
        return indexed(CommandKind::PortLine, "port", kPorts);
    return std::nullopt;
}

}  // namespace

bool validTopicLevel(std::string_view name) {
    if (name.empty() || name.size() > kLongestLevel) return false;
    for (const char c : name)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool validBaseTopic(std::string_view base) {
    for (const std::string_view level : levelsOf(base))
        if (!validTopicLevel(level)) return false;
    return true;
}

bool validTopicName(std::string_view topic) {
    return !topic.empty() && topic.size() <= 1024 &&
           topic.find_first_of(std::string_view("+#\0", 3)) == std::string_view::npos;
}

Topics::Topics(std::string base) : base_(std::move(base)) {}

std::string Topics::node(std::string_view name) const {
    return base_ + "/" + std::string(name) + "/";
}

std::string Topics::bridgeState() const { return base_ + "/bridge/state"; }
std::string Topics::bridgeLog() const { return base_ + "/bridge/log"; }
std::string Topics::bridgeNodes() const { return base_ + "/bridge/nodes"; }
std::string Topics::availability(std::string_view n) const { return node(n) + "availability"; }
std::string Topics::info(std::string_view n) const { return node(n) + "info"; }

std::string Topics::power(std::string_view n, int output) const {
    return node(n) + "power/" + std::to_string(output);
}
std::string Topics::powerSet(std::string_view n, int output) const {
    return power(n, output) + "/set";
}
std::string Topics::analog(std::string_view n, int channel) const {
    return node(n) + "analog/" + std::to_string(channel);
}
std::string Topics::analogParms(std::string_view n, int channel) const {
    return analog(n, channel) + "/parms";
}
std::string Topics::analogParmsSet(std::string_view n, int channel) const {
    return analogParms(n, channel) + "/set";
}
std::string Topics::blinkSet(std::string_view n) const { return node(n) + "blink/set"; }
std::string Topics::dcAlwaysOn(std::string_view n) const { return node(n) + "dc"; }
std::string Topics::dcAlwaysOnSet(std::string_view n) const { return dcAlwaysOn(n) + "/set"; }
std::string Topics::portTx(std::string_view n, int port) const {
    return node(n) + "port/" + std::to_string(port) + "/tx";
}
std::string Topics::portRx(std::string_view n, int port) const {
    return node(n) + "port/" + std::to_string(port) + "/rx";
}
std::string Topics::portLine(std::string_view n, int port) const {
    return node(n) + "port/" + std::to_string(port) + "/line";
}
std::string Topics::portLineSet(std::string_view n, int port) const {
    return portLine(n, port) + "/set";
}

std::vector<std::string> Topics::commandFilters() const {
    const std::string any = base_ + "/+/";
    return {any + "power/+/set",        any + "blink/set", any + "dc/set",
            any + "analog/+/parms/set", any + "port/+/tx", any + "port/+/line/set"};
}

std::optional<CommandTopic> Topics::parseCommand(std::string_view topic) const {
    if (topic.size() <= base_.size() + 1 || topic.substr(0, base_.size()) != base_ ||
        topic[base_.size()] != '/')
        return std::nullopt;
    const std::vector<std::string_view> levels = levelsOf(topic.substr(base_.size() + 1));
    if (levels.size() < 3 || levels[0] == "bridge") return std::nullopt;
    const std::vector<std::string_view> rest(levels.begin() + 1, levels.end());
    return commandOf(levels[0], rest);
}

}  // namespace snmqtt

#include "sparkplugTopics.h"

#include "topics.h"

namespace snmqtt {

namespace {

constexpr std::string_view kNamespace = "spBv1.0";

}  // namespace

std::optional<EdgeNodeId> parseEdgeNodeId(std::string_view text, const std::string& defaultEdge,
                                          std::string& why) {
    const auto slash = text.find('/');
    EdgeNodeId id{std::string(text.substr(0, slash)), slash == std::string_view::npos
                                                          ? defaultEdge
                                                          : std::string(text.substr(slash + 1))};
    if (!validTopicLevel(id.group)) {
        why =
            "the group id must be 1 to 64 characters without '/', '+', '#' or control "
            "characters";
        return std::nullopt;
    }
    if (!validTopicLevel(id.edge)) {
        why =
            "the edge node id must be 1 to 64 characters without '/', '+', '#' or control "
            "characters";
        return std::nullopt;
    }
    return id;
}

SparkplugTopics::SparkplugTopics(EdgeNodeId id)
    : id_(std::move(id)), prefix_(std::string(kNamespace) + "/" + id_.group + "/") {}

std::string SparkplugTopics::node(std::string_view type) const {
    return prefix_ + std::string(type) + "/" + id_.edge;
}

std::string SparkplugTopics::device(std::string_view type, std::string_view device) const {
    return node(type) + "/" + std::string(device);
}

std::string SparkplugTopics::deviceCommandFilter() const { return device("DCMD", "+"); }

std::optional<SparkplugCommandTopic> SparkplugTopics::parseCommand(std::string_view topic) const {
    const std::string ncmd = node("NCMD");
    if (topic == ncmd) return SparkplugCommandTopic{};
    const std::string dcmd = node("DCMD") + "/";
    if (!topic.starts_with(dcmd)) return std::nullopt;
    const std::string_view device = topic.substr(dcmd.size());
    if (device.empty() || device.find('/') != std::string_view::npos) return std::nullopt;
    return SparkplugCommandTopic{true, std::string(device)};
}

}  // namespace snmqtt

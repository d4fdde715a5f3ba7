// Where a Sparkplug B edge node's messages live: spBv1.0/GROUP/TYPE/EDGE,
// with /DEVICE after it for a device's.  Every bridged node is a device,
// named by its target's name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace snmqtt {

// The edge node's identity; neither may hold '/', '+' or '#'.
struct EdgeNodeId {
    std::string group;
    std::string edge;
};

// GROUP/EDGE, or GROUP alone with `defaultEdge` as the edge; nothing when
// the group or the edge is not a valid topic level (`why` says which).
std::optional<EdgeNodeId> parseEdgeNodeId(std::string_view text, const std::string& defaultEdge,
                                          std::string& why);

// A command topic of ours: NCMD (no device) or DCMD for a device.
struct SparkplugCommandTopic {
    bool forDevice = false;
    std::string device;
};

class SparkplugTopics {
public:
    explicit SparkplugTopics(EdgeNodeId id);

    const EdgeNodeId& id() const { return id_; }
    std::string node(std::string_view type) const;  // NBIRTH, NDEATH, NCMD
    std::string device(std::string_view type, std::string_view device) const;
    std::string deviceCommandFilter() const;  // DCMD for every device
    // Nothing for a topic that is not our NCMD or one device's DCMD.
    std::optional<SparkplugCommandTopic> parseCommand(std::string_view topic) const;

private:
    const EdgeNodeId id_;
    const std::string prefix_;  // spBv1.0/GROUP/
};

}  // namespace snmqtt

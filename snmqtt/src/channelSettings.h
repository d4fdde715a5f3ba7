// How each analog channel shows in Home Assistant, and how far its counts
// must move before a new reading is published:
//   --channel [NAME/]C:LABEL[:UNIT[:SCALE[:OFFSET]]]   (rack1/0:Supply:V:0.001)
//   --deadband [NAME/]C=COUNTS                         (C may be '*')
// An empty UNIT, SCALE or OFFSET is the default.  Without NAME/ a setting
// holds for every node; one for the node wins (as a whole: a node's own
// look takes nothing from the general one), and then one for the channel
// wins over '*'.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace snmqtt {

struct ChannelLook {
    std::string label;  // "Analog C" unless set
    std::string unit;   // none unless set
    double scale = 1;   // shown value = counts * scale + offset
    double offset = 0;
};

inline constexpr std::size_t kLongestLabel = 64;
inline constexpr std::size_t kLongestUnit = 16;

class ChannelSettings {
public:
    // Both throw std::invalid_argument with a sentence that quotes the
    // option, also for a channel or deadband given twice.
    void addChannel(std::string_view option);
    void addDeadband(std::string_view option);

    ChannelLook look(std::string_view node, int channel) const;
    unsigned deadband(std::string_view node, int channel) const;

private:
    // Node "" is every node; channel -1 is every channel.
    using Key = std::pair<std::string, int>;
    std::map<Key, ChannelLook> looks_;
    std::map<Key, unsigned> deadbands_;
};

}  // namespace snmqtt

// What the pages receive over their WebSocket, as JSON text.
#pragma once

#include <string>
#include <vector>

#include "nodes.h"

namespace snweb {

// {"kind":"overview","readOnly":..,"nodes":[{"name","device","slave","up",
// "serial","revision","revisionText","lastAnswer"}...]}
std::string overviewJson(const std::vector<const NodePoller*>& nodes, bool readOnly);

// {"kind":"node","readOnly":..,"name":..,"status":{...},"samples":[[t,c0..c7]...]}
std::string nodeJson(const NodePoller& node, const NodeStatus& status,
                     const std::vector<Sample>& samples, bool readOnly);

}  // namespace snweb

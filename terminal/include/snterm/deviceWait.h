// A serial device that went away under the terminal (an adapter pulled
// out): said once, then tried each second until the node and its port open
// on it again, as terminal programs such as tio do.  Ctrl-D ends the wait.
#pragma once

#include "snterm/options.h"

#include <cstdio>

struct SensorNode;
struct SnSerial;

namespace snterm {

// Lets go of `node` (its handle dies with the device), then waits; the port
// open again with its line, `node` the node opened anew, or null when
// Ctrl-D was typed first (`node` is then closed and null).
SnSerial* waitForDevice(SensorNode*& node, const Settings& settings, std::FILE* out);

}  // namespace snterm

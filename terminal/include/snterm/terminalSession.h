// The running terminal: raw console, virtual port, relay, and every exit.
#pragma once

#include "snterm/options.h"

struct SensorNode;

namespace snterm {

// Takes over once the node is open.  Returns the exit status: 0 after
// Ctrl-D, 1 when the port cannot be opened or a node through the daemon is
// lost; a serial device that goes away is waited for (see deviceWait.h).
// The console settings are restored on each of these ways out.
int runTerminal(SensorNode* node, const Settings& settings);

}  // namespace snterm

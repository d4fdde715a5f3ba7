// Start-up: banner, library set-up and opening the node.
#pragma once

#include "snterm/options.h"

#include <cstdio>

struct SensorNode;

namespace snterm {

void printBanner(const Settings& settings, std::FILE* out);

// Initialises the library with the settings' debug levels and opens the
// node.  On failure reports it on `out` and returns null.
SensorNode* startNode(const Settings& settings, std::FILE* out);

}  // namespace snterm

// Opening and configuring the node's virtual port used by the terminal.
#pragma once

#include <cstdio>

struct SensorNode;
struct SnSerial;

namespace snterm {

// Opens virtual port `port` of `node` and sets it to `speed`, N81.
// Reports success or failure on `out`; null on failure.
SnSerial* getSerHandle(SensorNode* node, int port, int speed, std::FILE* out);

}  // namespace snterm

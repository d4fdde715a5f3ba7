// A loopback TCP port nobody listens on right now (bound, then closed
// again): for a server that cannot pick its own, or a refused connection.
#pragma once

#include <cstdint>

namespace sntest {

uint16_t freeLoopbackPort();

}  // namespace sntest

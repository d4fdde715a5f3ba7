// How long a request and its answer hold the line: what the fair queue
// weighs each client's turns by.
#pragma once

#include <chrono>

#include "mbapFrame.h"

namespace snbusd {

// The line time at `baud` (8N1) of the RTU frame of `request` and of the
// answer the node gives when it accepts it, each with the silence after
// it.  A broadcast has no answer.
std::chrono::nanoseconds lineTime(const Request& request, int baud);

}  // namespace snbusd

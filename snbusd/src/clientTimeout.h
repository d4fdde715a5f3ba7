// A client's own wait on the line.  The daemon holds the line for a request
// until the node answers or the wait is over, so a client that gives up
// sooner on its own only finds the line still busy; it asks instead, with
// function 0x41 (of the range Modbus leaves to users) and the milliseconds
// as one word, and the requests its connection sends after that wait no
// longer than this on the line, never longer than the daemon's --timeout.
// The daemon answers 0x41 itself: function and 1 (taken); never the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "mbapFrame.h"

namespace snbusd {

inline constexpr uint8_t kSetClientTimeout = 0x41;
inline constexpr uint8_t kServerDeviceBusy = 0x06;

bool asksForClientTimeout(const Request& request);

struct ClientTimeoutAnswer {
    std::vector<uint8_t> pdu;              // what the client is told
    std::chrono::milliseconds timeout{0};  // the wait taken; 0 when refused
};

// The answer to a 0x41 request: 0x03 for a length or a value of 0 that is
// no wait, 0x06 while the connection has requests waiting (the answer
// would pass theirs).
ClientTimeoutAnswer answerClientTimeout(const Request& request, std::size_t inFlight);

}  // namespace snbusd

// One Modbus TCP client: its socket, what it has sent that is not yet a
// whole request, and the answers not yet written to it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fairQueue.h"

namespace snbusd {

// Requests one client may have waiting for the line at once, and answers
// it has not read; beyond either its socket is not read, so a client that
// floods requests and reads nothing is held back by TCP, not by our memory.
inline constexpr std::size_t kMaxRequestsInFlight = 16;
inline constexpr std::size_t kReadBufferLimit = 4096;
inline constexpr std::size_t kUnsentAnswersLimit = 16 * 1024;

struct ClientConnection {
    ClientId id = 0;
    int fd = -1;
    std::string peer;
    std::vector<uint8_t> in;   // bytes of requests not yet taken
    std::vector<uint8_t> out;  // answers not yet written
    std::size_t inFlight = 0;  // requests given to the bus, not yet answered
    std::chrono::steady_clock::time_point lastRequest{};
    std::chrono::milliseconds lineTimeout{0};  // asked for with 0x41; 0: the daemon's

    bool wantsToRead() const { return takesRequests() && in.size() < kReadBufferLimit; }
    bool takesRequests() const {
        return inFlight < kMaxRequestsInFlight && out.size() < kUnsentAnswersLimit;
    }
};

}  // namespace snbusd

// One Modbus TCP client: its socket, what it has sent that is not yet a
// whole request, and the answers not yet written to it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
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
// A client held back by its unread answers that takes none of them for
// this long reads no more at all: it is dropped, and its place with it.
inline constexpr std::chrono::seconds kUnreadAnswersTimeout{10};

struct ClientConnection {
    ClientId id = 0;
    int fd = -1;
    std::string peer;
    std::vector<uint8_t> in;   // bytes of requests not yet taken
    std::vector<uint8_t> out;  // answers not yet written
    std::size_t inFlight = 0;  // requests given to the bus, not yet answered
    std::chrono::steady_clock::time_point lastRequest{};
    std::chrono::milliseconds lineTimeout{0};  // asked for with 0x41; 0: the daemon's
    // Since when its answers have stood at the limit with none taken.
    std::optional<std::chrono::steady_clock::time_point> heldSince;

    bool wantsToRead() const { return takesRequests() && in.size() < kReadBufferLimit; }
    bool takesRequests() const {
        return inFlight < kMaxRequestsInFlight && out.size() < kUnsentAnswersLimit;
    }
    // After answers were added (`taken` false) or some written to it.
    void answersMoved(std::chrono::steady_clock::time_point now, bool taken) {
        if (out.size() < kUnsentAnswersLimit)
            heldSince.reset();
        else if (taken || !heldSince)
            heldSince = now;
    }
    bool readsNoMore(std::chrono::steady_clock::time_point now) const {
        return heldSince && now - *heldSince >= kUnreadAnswersTimeout;
    }
};

}  // namespace snbusd

// The requests waiting for the line, one queue per client, served in turn:
// a waiting request goes out after at most one transaction of each other
// client, so a client streaming blocks never starves a keystroke.  Pure: the
// owner locks it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>

#include "mbapFrame.h"

namespace snbusd {

using ClientId = uint64_t;

struct Job {
    ClientId client = 0;
    Request request;
    std::chrono::steady_clock::time_point queued{};
    std::chrono::milliseconds lineTimeout{0};  // the client's own wait; 0: the daemon's
};

class FairQueue {
public:
    void add(Job job);
    // The next job in turn, or nothing when none waits.
    std::optional<Job> next();
    // A client that has gone: its waiting jobs go with it.
    void dropClient(ClientId client);

    std::size_t waiting() const { return waiting_; }
    std::size_t waitingFor(ClientId client) const;

private:
    std::map<ClientId, std::deque<Job>> queues_;
    std::deque<ClientId> turn_;  // clients with work, the next to be served first
    std::size_t waiting_ = 0;
};

}  // namespace snbusd

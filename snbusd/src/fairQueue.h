// The requests waiting for the line, one queue per client, served by
// start-time fair queuing on line time.  Each request is stamped, when it
// arrives, with the line time its client has been given so far, but never
// less than the stamp of the request last taken for the line; the waiting
// request with the lowest stamp goes next (the shorter first on a tie,
// then the earlier).  A request is weighed by its frames until it comes off
// the line, then by the time it held the line: a request to a silent unit
// (its timeout and the probe that settles it) costs its client hundreds of
// frame times, so it cannot take the turns of everyone else.  So a client that has used little line
// time, a terminal's keystroke or idle read, goes before the next block of every client streaming
// blocks and waits at most for the transaction in progress, while clients that all stream share the
// line time evenly. (Deficit round robin would put it at the end of the round, behind a block of
// each streaming client.)  Pure: the owner locks it.
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
    explicit FairQueue(int baud) : baud_(baud) {}

    void add(Job job);
    // The next job in turn, or nothing when none waits.
    std::optional<Job> next();
    // The job last taken came off the line having held it for `held`: its
    // client is charged that instead of its frames' time, and the requests
    // it has waiting move with its account.  Nothing for a client gone.
    void offTheLine(std::chrono::nanoseconds held);
    // A client that has gone: its waiting jobs and its account go with it.
    void dropClient(ClientId client);

    // True when a request of `client` added now would go before the job
    // that goes next, a job of another client holding the line for at
    // least `atLeast` (by its frames, or by what that client's last job
    // held: a silent unit's request looks short until it is on the line):
    // the client is behind its share of the line.  False for a client
    // that has gone.
    bool wouldGoFirst(ClientId client, std::chrono::nanoseconds atLeast) const;

    std::size_t waiting() const { return waiting_; }
    std::size_t waitingFor(ClientId client) const;

private:
    using LineTime = std::chrono::nanoseconds;
    struct Stamped {
        Job job;
        LineTime start{0};
        LineTime cost{0};
        uint64_t arrival = 0;
    };
    struct Account {
        std::deque<Stamped> queue;
        LineTime finish{0};    // the stamp the client's next request starts from
        LineTime lastHeld{0};  // what its last job held the line for
    };

    // The account whose first job goes next, skipping `except`; end() when none waits.
    std::map<ClientId, Account>::const_iterator nextInTurn(
        std::optional<ClientId> except = std::nullopt) const;

    struct Taken {
        ClientId client = 0;
        LineTime cost{0};  // what it was charged when taken
    };

    int baud_;
    std::map<ClientId, Account> accounts_;
    std::optional<Taken> onTheLine_;
    LineTime lineClock_{0};  // the stamp of the job last taken
    uint64_t arrivals_ = 0;
    std::size_t waiting_ = 0;
};

}  // namespace snbusd

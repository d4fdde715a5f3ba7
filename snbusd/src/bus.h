// What the network side and the line worker share: the requests waiting for
// the line and the answers waiting for their clients.  A client behind its
// share of the line that was just answered is waited for a moment before a
// long transaction of another client starts: a terminal sends its keystroke
// only once its idle read is answered, a loopback round trip later, and
// would otherwise wait behind a whole block of a client streaming beside it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "fairQueue.h"

namespace snbusd {

struct Answer {
    ClientId client = 0;
    std::vector<uint8_t> frame;  // a whole Modbus TCP frame
    uint8_t unit = 0;
    bool fromNode = false;  // the node's own answer, not one the daemon gave itself
};

class Bus {
public:
    // `hold`: the longest wait for a client just answered, before a
    // transaction of another client that holds the line for `longJob` or more.
    Bus(int baud, std::chrono::microseconds hold, std::chrono::microseconds longJob);
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Network side.
    void submit(Job job);
    void dropClient(ClientId client);
    std::deque<Answer> takeAnswers();
    int answersReady() const { return wakeFd_; }  // readable while answers wait
    std::size_t waiting();
    void stop();

    // Line side: the next job, waiting at most `timeout`; nothing on
    // timeout or once stopped (`stopped()` tells which).
    std::optional<Job> nextJob(std::chrono::milliseconds timeout);
    // The answer of the job last taken, which held the line for `held`.
    void deliver(Answer answer, std::chrono::nanoseconds held);
    bool stopped();

private:
    void holdForTheAnswered(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable work_;
    FairQueue queue_;
    std::deque<Answer> answers_;
    const std::chrono::microseconds hold_;
    const std::chrono::microseconds longJob_;
    std::optional<ClientId> answered_;  // the client last answered, until the next job is taken
    std::chrono::steady_clock::time_point answeredAt_{};
    bool stopping_ = false;
    int wakeFd_ = -1;
};

}  // namespace snbusd

// What the network side and the line worker share: the requests waiting for
// the line and the answers waiting for their clients.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "fairQueue.h"

namespace snbusd {

struct Answer {
    ClientId client = 0;
    std::vector<uint8_t> frame;  // a whole Modbus TCP frame
};

class Bus {
public:
    Bus();
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
    void deliver(Answer answer);
    bool stopped();

private:
    std::mutex mutex_;
    std::condition_variable work_;
    FairQueue queue_;
    std::deque<Answer> answers_;
    bool stopping_ = false;
    int wakeFd_ = -1;
};

}  // namespace snbusd

#include "fairQueue.h"

#include <algorithm>

namespace snbusd {

void FairQueue::add(Job job) {
    std::deque<Job>& queue = queues_[job.client];
    if (queue.empty()) turn_.push_back(job.client);
    queue.push_back(std::move(job));
    ++waiting_;
}

std::optional<Job> FairQueue::next() {
    if (turn_.empty()) return std::nullopt;
    const ClientId client = turn_.front();
    turn_.pop_front();
    std::deque<Job>& queue = queues_[client];
    Job job = std::move(queue.front());
    queue.pop_front();
    --waiting_;
    if (queue.empty()) {
        queues_.erase(client);
    } else {
        turn_.push_back(client);  // its next request after everyone else's
    }
    return job;
}

void FairQueue::dropClient(ClientId client) {
    const auto found = queues_.find(client);
    if (found == queues_.end()) return;
    waiting_ -= found->second.size();
    queues_.erase(found);
    turn_.erase(std::remove(turn_.begin(), turn_.end(), client), turn_.end());
}

std::size_t FairQueue::waitingFor(ClientId client) const {
    const auto found = queues_.find(client);
    return found == queues_.end() ? 0 : found->second.size();
}

}  // namespace snbusd

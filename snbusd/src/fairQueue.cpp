#include "fairQueue.h"

#include <algorithm>
#include <tuple>

#include "lineTime.h"

namespace snbusd {

void FairQueue::add(Job job) {
    Account& account = accounts_[job.client];
    const LineTime cost = lineTime(job.request, baud_);
    const LineTime start = std::max(lineClock_, account.finish);
    account.finish = start + cost;
    account.queue.push_back(Stamped{std::move(job), start, cost, arrivals_++});
    ++waiting_;
}

std::map<ClientId, FairQueue::Account>::const_iterator FairQueue::nextInTurn(
    std::optional<ClientId> except) const {
    auto best = accounts_.end();
    const auto key = [](const Stamped& s) { return std::tie(s.start, s.cost, s.arrival); };
    for (auto it = accounts_.begin(); it != accounts_.end(); ++it) {
        if (it->second.queue.empty() || it->first == except) continue;
        if (best == accounts_.end() ||
            key(it->second.queue.front()) < key(best->second.queue.front()))
            best = it;
    }
    return best;
}

std::optional<Job> FairQueue::next() {
    const auto found = nextInTurn();
    if (found == accounts_.end()) return std::nullopt;
    std::deque<Stamped>& queue = accounts_.at(found->first).queue;
    lineClock_ = queue.front().start;
    onTheLine_ = Taken{found->first, queue.front().cost};
    Job job = std::move(queue.front().job);
    queue.pop_front();
    --waiting_;
    return job;
}

// Each waiting request of the client was stamped from the finish of the one
// before it (never less than the stamp on the line, which that finish is
// not), so the whole chain moves by what the charge changes.
void FairQueue::offTheLine(std::chrono::nanoseconds held) {
    if (!onTheLine_) return;
    const Taken taken = *onTheLine_;
    onTheLine_.reset();
    const auto found = accounts_.find(taken.client);
    if (found == accounts_.end()) return;
    const LineTime change = held - taken.cost;
    found->second.finish += change;
    found->second.lastHeld = held;
    for (Stamped& waiting : found->second.queue) waiting.start += change;
}

void FairQueue::dropClient(ClientId client) {
    const auto found = accounts_.find(client);
    if (found == accounts_.end()) return;
    waiting_ -= found->second.queue.size();
    accounts_.erase(found);
}

bool FairQueue::wouldGoFirst(ClientId client, std::chrono::nanoseconds atLeast) const {
    const auto other = nextInTurn(client);
    if (other == accounts_.end()) return false;
    const Stamped& head = other->second.queue.front();
    if (std::max(head.cost, other->second.lastHeld) < atLeast) return false;
    const auto own = accounts_.find(client);
    if (own == accounts_.end()) return false;  // gone
    return std::max(lineClock_, own->second.finish) < head.start;
}

std::size_t FairQueue::waitingFor(ClientId client) const {
    const auto found = accounts_.find(client);
    return found == accounts_.end() ? 0 : found->second.queue.size();
}

}  // namespace snbusd

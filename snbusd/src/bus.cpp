#include "bus.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace snbusd {

Bus::Bus(int baud, std::chrono::microseconds hold, std::chrono::microseconds longJob)
    : queue_(baud),
      hold_(hold),
      longJob_(longJob),
      wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd_ < 0) throw std::runtime_error("cannot create an event descriptor");
}

Bus::~Bus() { close(wakeFd_); }

void Bus::submit(Job job) {
    {
        std::lock_guard lock(mutex_);
        queue_.add(std::move(job));
    }
    work_.notify_one();
}

void Bus::dropClient(ClientId client) {
    std::lock_guard lock(mutex_);
    queue_.dropClient(client);
    if (answered_ == client) answered_.reset();
}

std::deque<Answer> Bus::takeAnswers() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = read(wakeFd_, &count, sizeof count);
    std::lock_guard lock(mutex_);
    std::deque<Answer> taken;
    taken.swap(answers_);
    return taken;
}

std::size_t Bus::waiting() {
    std::lock_guard lock(mutex_);
    return queue_.waiting();
}

void Bus::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
}

std::optional<Job> Bus::nextJob(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    work_.wait_for(lock, timeout, [this] { return stopping_ || queue_.waiting() != 0; });
    if (!stopping_ && queue_.waiting() != 0) holdForTheAnswered(lock);
    if (stopping_) return std::nullopt;
    return queue_.next();
}

void Bus::holdForTheAnswered(std::unique_lock<std::mutex>& lock) {
    if (!answered_) return;
    const ClientId client = *answered_;
    answered_.reset();
    if (queue_.waitingFor(client) != 0 || !queue_.wouldGoFirst(client, longJob_)) return;
    work_.wait_until(lock, answeredAt_ + hold_,
                     [&] { return stopping_ || queue_.waitingFor(client) != 0; });
}

void Bus::deliver(Answer answer, std::chrono::nanoseconds held) {
    {
        std::lock_guard lock(mutex_);
        queue_.offTheLine(held);
        answered_ = answer.client;
        answeredAt_ = std::chrono::steady_clock::now();
        answers_.push_back(std::move(answer));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

bool Bus::stopped() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

}  // namespace snbusd

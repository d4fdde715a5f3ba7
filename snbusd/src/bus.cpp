#include "bus.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace snbusd {

Bus::Bus() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
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
    if (stopping_) return std::nullopt;
    return queue_.next();
}

void Bus::deliver(Answer answer) {
    {
        std::lock_guard lock(mutex_);
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

#include "sncommon/fdTransfer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sncommon {

namespace {

using Clock = std::chrono::steady_clock;

class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds timeout)
        : endless_(timeout < std::chrono::milliseconds(0)), end_(Clock::now() + timeout) {}

    bool passed() const { return !endless_ && Clock::now() >= end_; }
    // Milliseconds to hand to poll: at most 100, so a passed deadline is seen.
    int pollSlice() const {
        if (endless_) return 100;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 100));
    }

private:
    bool endless_;
    Clock::time_point end_;
};

bool retryable(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

bool writeAll(int fd, const void* data, std::size_t length, std::chrono::milliseconds timeout) {
    const Deadline deadline(timeout);
    const auto* next = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t written = write(fd, next, length);
        if (written > 0) {
            next += written;
            length -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && !retryable(errno)) return false;
        if (deadline.passed()) return false;
        if (written < 0 && errno == EINTR) continue;
        pollfd watched{fd, POLLOUT, 0};
        poll(&watched, 1, deadline.pollSlice());
    }
    return true;
}

std::size_t readAll(int fd, void* data, std::size_t length, std::chrono::milliseconds timeout) {
    const Deadline deadline(timeout);
    auto* next = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = read(fd, next + done, length - done);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0 || !retryable(errno) || deadline.passed()) break;
        if (errno == EINTR) continue;
        pollfd watched{fd, POLLIN, 0};
        poll(&watched, 1, deadline.pollSlice());
    }
    return done;
}

void setNonBlockingCloseOnExec(int fd) {
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status | O_NONBLOCK);
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace sncommon

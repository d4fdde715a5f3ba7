#include "stopEvent.h"

#include "sncommon/deviceFailure.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace snrelay {

StopEvent::StopEvent() : eventFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (eventFd_ < 0) throw sncommon::DeviceError("cannot create an event descriptor", errno);
}

StopEvent::~StopEvent() { close(eventFd_); }

void StopEvent::raise() {
    raised_.store(true);
    const uint64_t one = 1;
    // Only wakes the waiters; the flag above is what they check.
    [[maybe_unused]] const ssize_t written = write(eventFd_, &one, sizeof one);
}

short StopEvent::waitFor(int fd, short events, std::chrono::milliseconds timeout) const {
    if (raised()) return 0;
    pollfd fds[2] = {{eventFd_, POLLIN, 0}, {fd, events, 0}};
    const nfds_t count = fd >= 0 ? 2 : 1;
    const int ready = poll(fds, count, static_cast<int>(timeout.count()));
    if (ready <= 0 || raised()) return 0;
    return fd >= 0 ? fds[1].revents : 0;
}

}  // namespace snrelay

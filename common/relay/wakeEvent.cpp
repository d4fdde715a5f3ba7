#include "wakeEvent.h"

#include "sncommon/deviceFailure.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace snrelay {

WakeEvent::WakeEvent() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0) throw sncommon::DeviceError("cannot create an event descriptor", errno);
}

WakeEvent::~WakeEvent() { close(fd_); }

void WakeEvent::notify() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof one);
}

void WakeEvent::clear() const {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd_, &count, sizeof count);
}

}  // namespace snrelay

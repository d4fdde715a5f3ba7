#include "sncommon/stopSignals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace sncommon {

StopSignals::StopSignals(std::initializer_list<int> signals) {
    sigemptyset(&set_);
    for (const int number : signals) sigaddset(&set_, number);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignals::~StopSignals() {
    if (fd_ >= 0) close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int StopSignals::wait(std::chrono::milliseconds timeout) const {
    for (;;) {
        int number = 0;
        if (timeout.count() < 0) {
            if (sigwait(&set_, &number) == 0) return number;
            continue;
        }
        const timespec limit{static_cast<time_t>(timeout.count() / 1000),
                             static_cast<long>(timeout.count() % 1000) * 1000000L};
        number = sigtimedwait(&set_, nullptr, &limit);
        if (number > 0) return number;
        if (errno != EINTR) return 0;
    }
}

}  // namespace sncommon

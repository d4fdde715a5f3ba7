// Shared "stop now" for the bridge's threads, which they can wait on
// together with a descriptor.
#pragma once

#include <atomic>
#include <chrono>

namespace snrelay {

class StopEvent {
public:
    StopEvent();  // throws DeviceError when the eventfd cannot be made
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    void raise();
    bool raised() const { return raised_.load(); }
    // Waits up to `timeout` for `events` on `fd` (-1: none) or for stop.
    // Returns the fd's revents, 0 on timeout or stop.
    short waitFor(int fd, short events, std::chrono::milliseconds timeout) const;
    void sleep(std::chrono::milliseconds timeout) const { waitFor(-1, 0, timeout); }

private:
    int eventFd_ = -1;
    std::atomic<bool> raised_{false};
};

}  // namespace snrelay

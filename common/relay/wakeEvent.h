// A nudge between threads that a poll() can wait on: notify() makes fd()
// readable until clear().  Clear first, then look at the shared state, so
// no nudge is ever lost.
#pragma once

namespace snrelay {

class WakeEvent {
public:
    WakeEvent();  // throws DeviceError when the eventfd cannot be made
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void notify() const;
    void clear() const;
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace snrelay

// One master per bus: a program that opens a serial device holds an
// exclusive flock on it while it is open, as picocom and tio do, and a
// device another program holds is refused before anything touches its line.
#pragma once

namespace snline {

// Opens `device` and takes the lock on it without waiting.  Returns the
// descriptor that holds the lock (close it to let go), or -1 with errno:
// EBUSY when another open of the device holds it, the open's otherwise.
int lockDevice(const char* device);

// True when `device` names the same file as the open descriptor `fd`.
bool isSameDevice(int fd, const char* device);

}  // namespace snline

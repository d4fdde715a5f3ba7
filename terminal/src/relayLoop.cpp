#include "snterm/relayLoop.h"

#include "sncommon/fdTransfer.h"

#include <snLib.h>

#include <sys/select.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace snterm {

namespace {

constexpr long kPollMicroseconds = 20000;
constexpr std::size_t kInputBufSize = 256;
constexpr std::uint32_t kPortReadSize = 20;
constexpr unsigned char kCtrlD = 4;

// Shared by both directions: a pass first relays the typed bytes, then
// reuses the buffer for what the port received.
unsigned char inputBuf[kInputBufSize];

// How descriptor 0 is watched.  A failed read (EIO while in the background,
// say) is no end: the next pass only pauses, the one after looks again, so
// typing works once reads succeed again and a failing read never spins.
enum class Keyboard { Watched, Resting, Ended };

// Waits up to 20 ms for typed input.  While resting or after the end of
// input only the pause remains, so the port is still polled at that pace.
bool waitForKeyboard(Keyboard& keyboard) {
    const bool watch = keyboard == Keyboard::Watched;
    if (keyboard == Keyboard::Resting) keyboard = Keyboard::Watched;
    fd_set readable;
    FD_ZERO(&readable);
    if (watch) FD_SET(STDIN_FILENO, &readable);
    timeval timeout{0, kPollMicroseconds};
    const int ready = select(watch ? STDIN_FILENO + 1 : 0, watch ? &readable : nullptr, nullptr,
                             nullptr, &timeout);
    return watch && ready > 0 && FD_ISSET(STDIN_FILENO, &readable);
}

// Reads what was typed.  Only the end of input stops the watching for good.
ssize_t readKeyboard(Keyboard& keyboard) {
    const ssize_t count = read(STDIN_FILENO, inputBuf, sizeof inputBuf);
    if (count == 0) {
        keyboard = Keyboard::Ended;
    } else if (count < 0 && errno != EINTR && errno != EAGAIN) {
        keyboard = Keyboard::Resting;
    }
    return count;
}

// False only when the device is gone; a node that takes nothing is not.
bool sendToPort(SnSerial* port, std::size_t count) {
    errno = 0;
    const int sent = snSerWrite(port, inputBuf, static_cast<std::uint32_t>(count));
    return sent >= static_cast<int>(count) || !isDeviceGone(errno);
}

// Library trace lines sit in stdio's buffer; flush them first so the
// console shows everything in order.
bool relayFromPort(SnSerial* port) {
    errno = 0;
    const int received = snSerRead(port, inputBuf, kPortReadSize);
    if (received > 0) {
        std::fflush(stdout);
        sncommon::writeAll(STDOUT_FILENO, inputBuf, static_cast<std::size_t>(received));
        return true;
    }
    return !isDeviceGone(errno);
}

}  // namespace

bool isDeviceGone(int errorNumber) {
    return errorNumber == EIO || errorNumber == ENXIO || errorNumber == EBADF ||
           errorNumber == ENODEV;
}

RelayEnd relayLoop(SnSerial* port) {
    Keyboard keyboard = Keyboard::Watched;
    for (;;) {
        if (waitForKeyboard(keyboard)) {
            const ssize_t typed = readKeyboard(keyboard);
            if (typed > 0 && inputBuf[0] == kCtrlD) {
                return RelayEnd::UserExit;
            }
            if (typed > 0 && !sendToPort(port, static_cast<std::size_t>(typed))) {
                return RelayEnd::DeviceLost;
            }
        }
        if (!relayFromPort(port)) {
            return RelayEnd::DeviceLost;
        }
    }
}

}  // namespace snterm

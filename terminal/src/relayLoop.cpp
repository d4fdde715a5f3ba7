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

// Waits up to 20 ms for typed input.  Once input has ended only the pause
// remains, so the port is still polled at the same pace instead of spinning.
bool waitForKeyboard(bool watchInput) {
    fd_set readable;
    FD_ZERO(&readable);
    if (watchInput) {
        FD_SET(STDIN_FILENO, &readable);
    }
    timeval timeout{0, kPollMicroseconds};
    const int ready = select(watchInput ? STDIN_FILENO + 1 : 0, watchInput ? &readable : nullptr,
                             nullptr, nullptr, &timeout);
    return watchInput && ready > 0 && FD_ISSET(STDIN_FILENO, &readable);
}

// Reads what was typed.  End of input, or an error that will not go away,
// stops the watching of descriptor 0 for good.
ssize_t readKeyboard(bool& watchInput) {
    const ssize_t count = read(STDIN_FILENO, inputBuf, sizeof inputBuf);
    if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN)) {
        watchInput = false;
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
    bool watchInput = true;
    for (;;) {
        if (waitForKeyboard(watchInput)) {
            const ssize_t typed = readKeyboard(watchInput);
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

#include "snterm/relayLoop.h"

#include <snLib.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sncommon/fdTransfer.h"
#include "sncommon/linePacer.h"
#include "snline/hostPort.h"

namespace snterm {

namespace {

constexpr long kPollMicroseconds = 20000;
constexpr std::size_t kInputBufSize = 256;
constexpr std::uint32_t kPortReadSize = 20;                // idle: one 11-register fetch
constexpr std::uint32_t kStreamReadSize = SN_BLOCK_BYTES;  // flowing: whole blocks
constexpr int kBitsPerByte = 10;                           // 8N1 on the port's line
constexpr std::size_t kTypedQueueSize = 4096;
constexpr unsigned char kCtrlD = 4;
// A node reached through the bus daemon outlives a restart of the daemon:
// the library connects again on the next call, so only a connection that
// stays lost this long ends the terminal.
constexpr auto kReconnectGrace = std::chrono::seconds(5);

// What the port received, on its way to the console.
unsigned char inputBuf[kInputBufSize];

// Typed bytes on their way to the node.  They go out no faster than the
// port's line drains them, so the node takes every chunk whole and the
// library never pauses the loop (while it pauses, nothing is received).
// The keyboard is read while a whole read still fits, so Ctrl-D is seen
// unless a paste has filled the queue; the console holds what comes after.
struct Typed {
    unsigned char bytes[kTypedQueueSize];
    std::size_t start = 0;
    std::size_t count = 0;

    bool roomForARead() const { return count + kInputBufSize <= kTypedQueueSize; }
    // Where the next read goes, the queue moved to the front first.
    unsigned char* end() {
        if (start != 0) std::memmove(bytes, bytes + start, count);
        start = 0;
        return bytes + count;
    }
};
Typed typed;

// How descriptor 0 is watched.  A failed read (EIO while in the background,
// say) is no end: the next pass only pauses, the one after looks again, so
// typing works once reads succeed again and a failing read never spins.
enum class Keyboard { Watched, Resting, Ended };

// Waits for typed input: up to 20 ms, or not at all while a stream flows.
// A full queue, a rest or the end of input leave only the pause, so the
// port is still polled at that pace.
bool waitForKeyboard(Keyboard& keyboard, bool streaming) {
    const bool watch = keyboard == Keyboard::Watched && typed.roomForARead();
    if (keyboard == Keyboard::Resting) keyboard = Keyboard::Watched;
    fd_set readable;
    FD_ZERO(&readable);
    if (watch) FD_SET(STDIN_FILENO, &readable);
    timeval timeout{0, streaming ? 0 : kPollMicroseconds};
    const int ready = select(watch ? STDIN_FILENO + 1 : 0, watch ? &readable : nullptr, nullptr,
                             nullptr, &timeout);
    return watch && ready > 0 && FD_ISSET(STDIN_FILENO, &readable);
}

// Reads what was typed into the queue; true when the read starts with
// Ctrl-D.  Only the end of input stops the watching for good.
bool readKeyboard(Keyboard& keyboard) {
    unsigned char* into = typed.end();
    const ssize_t count = read(STDIN_FILENO, into, kInputBufSize);
    if (count > 0) {
        if (into[0] == kCtrlD) return true;
        typed.count += static_cast<std::size_t>(count);
    } else if (count == 0) {
        keyboard = Keyboard::Ended;
    } else if (errno != EINTR && errno != EAGAIN) {
        keyboard = Keyboard::Resting;
    }
    return false;
}

bool isConnectionError(int errorNumber) {
    return errorNumber == ECONNRESET || errorNumber == ECONNREFUSED || errorNumber == EPIPE ||
           errorNumber == ENOTCONN || isDeviceGone(errorNumber);
}

// Whether a call's outcome ends the relay.  A serial device that is gone
// ends it at once; a TCP node ends it only after connection errors for the
// whole grace, with no call in between that got through.
class LinkWatch {
public:
    explicit LinkWatch(bool tcpNode) : tcpNode_(tcpNode) {}

    // errorNumber 0: the call succeeded.  True while the relay goes on.
    bool goesOn(int errorNumber) {
        if (!tcpNode_) return !isDeviceGone(errorNumber);
        if (!isConnectionError(errorNumber)) {
            failing_ = false;
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!failing_) failingSince_ = now;
        failing_ = true;
        return now - failingSince_ < kReconnectGrace;
    }

private:
    bool tcpNode_;
    bool failing_ = false;
    std::chrono::steady_clock::time_point failingSince_{};
};

// snterm opened the node by its -p name, which the node's entry holds as
// given: a "tcp:" name is a connection to the bus daemon.
bool throughDaemon(const SnSerial* port) {
    return port->node != nullptr && snline::isTcpLinkName(port->node->portName);
}

// Hands the node what its line has drained room for.  Bytes the node does
// not take even so are lost, as at any terminal whose line is gone.  False
// only when the device is gone (see LinkWatch); a node that takes nothing
// is not.
bool sendTyped(SnSerial* port, sncommon::LinePacer* pacer, LinkWatch& watch) {
    if (typed.count == 0) return true;
    const std::size_t n =
        pacer == nullptr
            ? typed.count
            : std::min(typed.count, pacer->allowance(sncommon::LinePacer::Clock::now()));
    if (n == 0) return true;
    errno = 0;
    const int sent = snSerWrite(port, typed.bytes + typed.start, static_cast<std::uint32_t>(n));
    if (pacer != nullptr) pacer->spent(n);
    typed.start += n;
    typed.count -= n;
    return watch.goesOn(sent >= static_cast<int>(n) ? 0 : errno);
}

// One read: 20 bytes when idle, a whole block while a stream flows (the
// last read came back full).  Library trace lines sit in stdio's buffer;
// they are flushed first so the console shows everything in order.
bool relayFromPort(SnSerial* port, bool& streaming, LinkWatch& watch) {
    const std::uint32_t wanted = streaming ? kStreamReadSize : kPortReadSize;
    errno = 0;
    const int received = snSerRead(port, inputBuf, wanted);
    streaming = received == static_cast<int>(wanted);
    if (received > 0) {
        std::fflush(stdout);
        sncommon::writeAll(STDOUT_FILENO, inputBuf, static_cast<std::size_t>(received));
        return watch.goesOn(0);
    }
    return watch.goesOn(errno);  // 0: the node had nothing
}

}  // namespace

bool isDeviceGone(int errorNumber) {
    return errorNumber == EIO || errorNumber == ENXIO || errorNumber == EBADF ||
           errorNumber == ENODEV;
}

RelayEnd relayLoop(SnSerial* port, int targetBaud) {
    // A speed the node cannot run (snterm does not check -b) is not paced.
    sncommon::LinePacer linePacer(std::max(targetBaud, 1), kBitsPerByte,
                                  sncommon::LinePacer::Clock::now());
    sncommon::LinePacer* pacer = targetBaud > 0 ? &linePacer : nullptr;
    Keyboard keyboard = Keyboard::Watched;
    bool streaming = false;
    LinkWatch watch(throughDaemon(port));
    for (;;) {
        if (waitForKeyboard(keyboard, streaming) && readKeyboard(keyboard)) {
            // What was typed before Ctrl-D still goes, at the library's pace.
            sendTyped(port, nullptr, watch);
            return RelayEnd::UserExit;
        }
        if (!sendTyped(port, pacer, watch)) return RelayEnd::DeviceLost;
        if (!relayFromPort(port, streaming, watch)) return RelayEnd::DeviceLost;
    }
}

}  // namespace snterm

#include "snline/lineRecovery.h"

#include "snline/modbusErrors.h"

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace snline {

namespace {

constexpr int kMostWindows = 10;  // a line that never falls silent is given up on

void pauseMicroseconds(uint64_t us) {
    timespec remaining{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

// Drops what arrives until the line has been silent for a whole window: a
// second half that comes late restarts the wait instead of slipping in
// after it, however the machine's load stretches the node's pauses.
void drainUntilSilent(modbus_t* ctx, uint64_t windowUs) {
    const int fd = modbus_get_socket(ctx);
    if (fd < 0) {  // a connection already closed: nothing can arrive
        pauseMicroseconds(windowUs);
        return;
    }
    for (int window = 0; window < kMostWindows; ++window) {
        pollfd in{fd, POLLIN, 0};
        const int ready = poll(&in, 1, static_cast<int>((windowUs + 999) / 1000));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (in.revents & POLLIN) == 0) return;
        modbus_flush(ctx);
    }
}

}  // namespace

bool isLineFailure(int errorNumber) {
    const ModbusFailure kind = classifyModbusError(errorNumber);
    return kind == ModbusFailure::NoAnswer || kind == ModbusFailure::Garbled ||
           errorNumber == ECONNRESET;
}

int recoverFromLineFailure(modbus_t* ctx, int rc) {
    if (rc >= 0 || !isLineFailure(errno)) return rc;
    const int failure = errno;
    uint32_t sec = 0, usec = 0;
    modbus_get_byte_timeout(ctx, &sec, &usec);
    drainUntilSilent(ctx, 2 * (static_cast<uint64_t>(sec) * 1000000 + usec));
    modbus_flush(ctx);
    errno = failure;
    return rc;
}

}  // namespace snline

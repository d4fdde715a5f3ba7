#include "sncommon/lineRecovery.h"

#include "sncommon/modbusErrors.h"

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace sncommon {

namespace {

void pauseMicroseconds(uint64_t us) {
    timespec remaining{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
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
    pauseMicroseconds(2 * (static_cast<uint64_t>(sec) * 1000000 + usec));
    modbus_flush(ctx);
    errno = failure;
    return rc;
}

}  // namespace sncommon

#include "sncommon/lineRecovery.h"

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
    switch (errorNumber) {
        case ETIMEDOUT:
        case ECONNRESET:
        case EMBBADCRC:
        case EMBBADDATA:
        case EMBBADEXC:
        case EMBUNKEXC:
        case EMBMDATA:
        case EMBBADSLAVE:
            return true;
        default:
            return false;
    }
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

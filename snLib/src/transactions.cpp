#include "transactions.h"

#include "libState.h"
#include "sncommon/lineRecovery.h"

#include <cerrno>

namespace snlib::mb {

namespace {

// Errors after which a TCP connection is of no further use: the daemon went
// away or the network between dropped it.
bool isConnectionLost(int errorNumber) {
    switch (errorNumber) {
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
        case ENOTCONN:
        case EBADF:
        case ENETRESET:
        case ENETDOWN:
        case ENETUNREACH:
        case EHOSTUNREACH:
            return true;
        default:
            return false;
    }
}

// A TCP link closed after a lost connection is connected again before its
// next transaction; when that fails the call fails at once with the
// connect's errno.  A successful connect leaves errno as it was (connecting
// sets it along the way), so callers see only the transaction's own.
bool ready(modbus_t* ctx) {
    if (!isTcpLink(ctx) || modbus_get_socket(ctx) >= 0) return true;
    const int before = errno;
    if (modbus_connect(ctx) < 0) return false;
    errno = before;
    return true;
}

// A TCP link that gave up waiting is closed too: the daemon answers late
// rather than never, and on this connection that answer would come before
// the next call's and be taken for it.  A new connection never hears it
// (the daemon drops the answers of a client that has gone).  Serial links
// are never closed here: a serial device is not reopened.
int settle(modbus_t* ctx, int rc) {
    if (rc < 0 && isTcpLink(ctx) && (errno == ETIMEDOUT || isConnectionLost(errno))) {
        const int failure = errno;
        modbus_close(ctx);
        errno = failure;
        return rc;
    }
    return sncommon::recoverFromLineFailure(ctx, rc);
}

}  // namespace

int readBits(modbus_t* ctx, int address, int count, uint8_t* dest) {
    if (!ready(ctx)) return -1;
    return settle(ctx, modbus_read_bits(ctx, address, count, dest));
}

int readRegisters(modbus_t* ctx, int address, int count, uint16_t* dest) {
    if (!ready(ctx)) return -1;
    return settle(ctx, modbus_read_registers(ctx, address, count, dest));
}

int writeBit(modbus_t* ctx, int address, int status) {
    if (!ready(ctx)) return -1;
    return settle(ctx, modbus_write_bit(ctx, address, status));
}

int writeBits(modbus_t* ctx, int address, int count, const uint8_t* src) {
    if (!ready(ctx)) return -1;
    return settle(ctx, modbus_write_bits(ctx, address, count, src));
}

int writeRegister(modbus_t* ctx, int address, uint16_t value) {
    if (!ready(ctx)) return -1;
    return settle(ctx, modbus_write_register(ctx, address, value));
}

int writeRegisters(modbus_t* ctx, int address, int count, const uint16_t* src) {
    if (!ready(ctx)) return -1;
    return settle(ctx, modbus_write_registers(ctx, address, count, src));
}

int writeAndReadRegisters(modbus_t* ctx, int writeAddress, int writeCount, const uint16_t* src,
                          int readAddress, int readCount, uint16_t* dest) {
    if (!ready(ctx)) return -1;
    return settle(ctx, modbus_write_and_read_registers(ctx, writeAddress, writeCount, src,
                                                       readAddress, readCount, dest));
}

}  // namespace snlib::mb

#include "transactions.h"

#include "pause.h"

#include <cerrno>

namespace snlib::mb {
namespace {

// Failures of the line itself, after which answer bytes may still arrive.
bool isLineFailure(int err) {
    switch (err) {
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

// Lets the rest of a late or torn answer in for two byte timeouts and drops
// it, keeping the errno of the failure.
int settle(modbus_t* ctx, int rc) {
    if (rc >= 0 || !isLineFailure(errno)) return rc;
    const int failure = errno;
    uint32_t sec = 0, usec = 0;
    modbus_get_byte_timeout(ctx, &sec, &usec);
    pauseMicroseconds(2 * (static_cast<uint64_t>(sec) * 1000000 + usec));
    modbus_flush(ctx);
    errno = failure;
    return rc;
}

}  // namespace

int readBits(modbus_t* ctx, int address, int count, uint8_t* dest) {
    return settle(ctx, modbus_read_bits(ctx, address, count, dest));
}

int readRegisters(modbus_t* ctx, int address, int count, uint16_t* dest) {
    return settle(ctx, modbus_read_registers(ctx, address, count, dest));
}

int writeBit(modbus_t* ctx, int address, int status) {
    return settle(ctx, modbus_write_bit(ctx, address, status));
}

int writeBits(modbus_t* ctx, int address, int count, const uint8_t* src) {
    return settle(ctx, modbus_write_bits(ctx, address, count, src));
}

int writeRegister(modbus_t* ctx, int address, uint16_t value) {
    return settle(ctx, modbus_write_register(ctx, address, value));
}

int writeRegisters(modbus_t* ctx, int address, int count, const uint16_t* src) {
    return settle(ctx, modbus_write_registers(ctx, address, count, src));
}

int writeAndReadRegisters(modbus_t* ctx, int writeAddress, int writeCount, const uint16_t* src,
                          int readAddress, int readCount, uint16_t* dest) {
    return settle(ctx, modbus_write_and_read_registers(ctx, writeAddress, writeCount, src,
                                                       readAddress, readCount, dest));
}

}  // namespace snlib::mb

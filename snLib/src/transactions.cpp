#include "transactions.h"

#include "sncommon/lineRecovery.h"

#include <cerrno>

namespace snlib::mb {

namespace {

int settle(modbus_t* ctx, int rc) { return sncommon::recoverFromLineFailure(ctx, rc); }

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

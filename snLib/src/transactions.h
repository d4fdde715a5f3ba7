// The library's Modbus transactions: libmodbus's calls of the same names,
// each followed by recovery from a failure on the line, so that the rest of
// a late or torn answer cannot spoil the next transaction.  A TCP link (to
// the bus daemon) whose connection was lost, or whose answer did not come in
// time, is closed, and connected again before its next transaction.
// Called under the library lock; results and errno are libmodbus's.
#pragma once

#include <modbus.h>

#include <cstdint>

namespace snlib::mb {

int readBits(modbus_t* ctx, int address, int count, uint8_t* dest);
int readRegisters(modbus_t* ctx, int address, int count, uint16_t* dest);
int writeBit(modbus_t* ctx, int address, int status);
int writeBits(modbus_t* ctx, int address, int count, const uint8_t* src);
int writeRegister(modbus_t* ctx, int address, uint16_t value);
int writeRegisters(modbus_t* ctx, int address, int count, const uint16_t* src);
int writeAndReadRegisters(modbus_t* ctx, int writeAddress, int writeCount, const uint16_t* src,
                          int readAddress, int readCount, uint16_t* dest);

}  // namespace snlib::mb

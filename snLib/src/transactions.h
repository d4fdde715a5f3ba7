// The library's Modbus transactions, with the results and errno of
// libmodbus's calls of the same names.  On a serial link each is one
// exchange kept in step with the node, so that a late or torn answer is
// never taken for another request's.  Over TCP (the bus daemon keeps the
// line in step) they are libmodbus's own calls, each followed by recovery
// from a failure; a TCP link whose connection was lost, or whose answer did
// not come in time, is closed, and connected again before its next
// transaction.  Called under the library lock.
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

// Whether the last call's request went unanswered and is still owed: the
// node may yet answer it, and may have acted on it.
bool lastRequestOwed();

// Brings a serial link in step with its node when it owes answers (a
// probe, answered); the news of every debt reaches the ports.  False with
// errno when the node does not answer.  True at once over TCP.
bool settle(modbus_t* ctx);

}  // namespace snlib::mb

#include "transactions.h"

#include "daemonWait.h"
#include "libState.h"
#include "portNews.h"
#include "snline/lineExchange.h"
#include "snline/lineRecovery.h"
#include "trace.h"

#include <cerrno>
#include <cstring>

namespace snlib::mb {

namespace {

// Whether the last request on a serial link was left owed (under the lock).
bool sLastRequestOwed = false;

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
// connect's errno.  A new connection tells the daemon the caller's wait on
// the line first.  Leaves errno as it was when the link is ready
// (connecting sets it along the way), so callers see only the
// transaction's own.
bool ready(modbus_t* ctx) {
    if (!isTcpLink(ctx)) return true;
    const int before = errno;
    if (modbus_get_socket(ctx) < 0) {
        if (modbus_connect(ctx) < 0) return false;
        if (const SensorNode* entry = entryOf(ctx)) daemon::connected(*entry);
    }
    daemon::tellIfNew(ctx);
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
    return snline::recoverFromLineFailure(ctx, rc);
}

void putWord(uint8_t* at, int value) {
    at[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t wordAt(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

// One request on a serial link.  Returns the answer's length, or -1 with
// errno: libmodbus's for the line's failures, and for a node's exception
// the code as libmodbus gives it (EMBXILFUN and on; EMBBADEXC beyond).
int onSerialLink(modbus_t* ctx, const uint8_t* pdu, std::size_t size, uint8_t* answer) {
    const int slave = modbus_get_slave(ctx);
    DeviceBook book(entryOf(ctx), ctx);
    const snline::Exchanged done =
        snline::exchange(ctx, book, static_cast<uint8_t>(slave), pdu, size, answer);
    sLastRequestOwed = done.owed && done.kind != snline::Exchanged::Kind::Answer;
    if (done.kind != snline::Exchanged::Kind::Answer) return -1;
    if ((answer[0] & 0x80) == 0) return static_cast<int>(done.length);
    const int code = answer[1];
    errno = code >= 1 && code < MODBUS_EXCEPTION_MAX ? MODBUS_ENOBASE + code : EMBBADEXC;
    return -1;
}

// A read of `count` items: the request, and the answer's data bytes.
int readRequest(modbus_t* ctx, uint8_t function, int address, int count, uint8_t* answer) {
    uint8_t pdu[5] = {function};
    putWord(pdu + 1, address);
    putWord(pdu + 3, count);
    return onSerialLink(ctx, pdu, sizeof pdu, answer);
}

int unpackRegisters(int length, const uint8_t* answer, int count, uint16_t* dest) {
    if (length < 0) return -1;
    for (int i = 0; i < count; ++i) dest[i] = wordAt(answer + 2 + 2 * i);
    return count;
}

}  // namespace

bool lastRequestOwed() { return sLastRequestOwed; }

bool settle(modbus_t* ctx) {
    sLastRequestOwed = false;
    if (isTcpLink(ctx)) return true;
    DeviceBook book(entryOf(ctx), ctx);
    return snline::settleOwed(ctx, book, static_cast<uint8_t>(modbus_get_slave(ctx)));
}

int readBits(modbus_t* ctx, int address, int count, uint8_t* dest) {
    sLastRequestOwed = false;
    if (!ready(ctx)) return -1;
    if (isTcpLink(ctx)) return settle(ctx, modbus_read_bits(ctx, address, count, dest));
    if (count < 1 || count > MODBUS_MAX_READ_BITS) return failWith(EMBMDATA);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    if (readRequest(ctx, 1, address, count, answer) < 0) return -1;
    for (int i = 0; i < count; ++i) dest[i] = (answer[2 + i / 8] >> (i % 8)) & 1;
    return count;
}

int readRegisters(modbus_t* ctx, int address, int count, uint16_t* dest) {
    sLastRequestOwed = false;
    if (!ready(ctx)) return -1;
    if (isTcpLink(ctx)) return settle(ctx, modbus_read_registers(ctx, address, count, dest));
    if (count < 1 || count > MODBUS_MAX_READ_REGISTERS) return failWith(EMBMDATA);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    return unpackRegisters(readRequest(ctx, 3, address, count, answer), answer, count, dest);
}

int writeBit(modbus_t* ctx, int address, int status) {
    sLastRequestOwed = false;
    if (!ready(ctx)) return -1;
    if (isTcpLink(ctx)) return settle(ctx, modbus_write_bit(ctx, address, status));
    uint8_t pdu[5] = {5};
    putWord(pdu + 1, address);
    putWord(pdu + 3, status != 0 ? 0xFF00 : 0);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    return onSerialLink(ctx, pdu, sizeof pdu, answer) < 0 ? -1 : 1;
}

int writeBits(modbus_t* ctx, int address, int count, const uint8_t* src) {
    sLastRequestOwed = false;
    if (!ready(ctx)) return -1;
    if (isTcpLink(ctx)) return settle(ctx, modbus_write_bits(ctx, address, count, src));
    if (count < 1 || count > MODBUS_MAX_WRITE_BITS) return failWith(EMBMDATA);
    uint8_t pdu[MODBUS_MAX_PDU_LENGTH] = {15};
    putWord(pdu + 1, address);
    putWord(pdu + 3, count);
    pdu[5] = static_cast<uint8_t>((count + 7) / 8);
    for (int i = 0; i < count; ++i) {
        if (src[i] != 0) pdu[6 + i / 8] = static_cast<uint8_t>(pdu[6 + i / 8] | (1 << (i % 8)));
    }
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    return onSerialLink(ctx, pdu, 6u + pdu[5], answer) < 0 ? -1 : count;
}

int writeRegister(modbus_t* ctx, int address, uint16_t value) {
    sLastRequestOwed = false;
    if (!ready(ctx)) return -1;
    if (isTcpLink(ctx)) return settle(ctx, modbus_write_register(ctx, address, value));
    uint8_t pdu[5] = {6};
    putWord(pdu + 1, address);
    putWord(pdu + 3, value);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    return onSerialLink(ctx, pdu, sizeof pdu, answer) < 0 ? -1 : 1;
}

// The registers of a write, behind its byte count at `pdu[at]`.
std::size_t packRegisters(uint8_t* pdu, std::size_t at, int count, const uint16_t* src) {
    pdu[at] = static_cast<uint8_t>(2 * count);
    for (int i = 0; i < count; ++i) putWord(pdu + at + 1 + 2 * i, src[i]);
    return at + 1 + 2 * static_cast<std::size_t>(count);
}

int writeRegisters(modbus_t* ctx, int address, int count, const uint16_t* src) {
    sLastRequestOwed = false;
    if (!ready(ctx)) return -1;
    if (isTcpLink(ctx)) return settle(ctx, modbus_write_registers(ctx, address, count, src));
    if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS) return failWith(EMBMDATA);
    uint8_t pdu[MODBUS_MAX_PDU_LENGTH] = {16};
    putWord(pdu + 1, address);
    putWord(pdu + 3, count);
    const std::size_t size = packRegisters(pdu, 5, count, src);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    return onSerialLink(ctx, pdu, size, answer) < 0 ? -1 : count;
}

int writeAndReadRegisters(modbus_t* ctx, int writeAddress, int writeCount, const uint16_t* src,
                          int readAddress, int readCount, uint16_t* dest) {
    sLastRequestOwed = false;
    if (!ready(ctx)) return -1;
    if (isTcpLink(ctx))
        return settle(ctx, modbus_write_and_read_registers(ctx, writeAddress, writeCount, src,
                                                           readAddress, readCount, dest));
    if (writeCount < 1 || writeCount > MODBUS_MAX_WR_WRITE_REGISTERS || readCount < 1 ||
        readCount > MODBUS_MAX_WR_READ_REGISTERS)
        return failWith(EMBMDATA);
    uint8_t pdu[MODBUS_MAX_PDU_LENGTH] = {23};
    putWord(pdu + 1, readAddress);
    putWord(pdu + 3, readCount);
    putWord(pdu + 5, writeAddress);
    putWord(pdu + 7, writeCount);
    const std::size_t size = packRegisters(pdu, 9, writeCount, src);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    return unpackRegisters(onSerialLink(ctx, pdu, size, answer), answer, readCount, dest);
}

}  // namespace snlib::mb

// Moving bytes through a virtual port: receive blocks handed out through
// the port's buffer, transmit data cut into chunks the node acknowledges.
#include "blockPacking.h"
#include "libState.h"
#include "registerMap.h"
#include "trace.h"
#include "transactions.h"

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include "pause.h"

using namespace snlib;

namespace {

constexpr uint64_t kPartialChunkPauseUs = 50000;
constexpr int kMaxStalledChunks = 10;  // the 11th stalled chunk gives up
constexpr uint32_t kMinFetchRegs = 10;

// Data registers to fetch for a request of `count` bytes: enough for the
// whole request, at most a full block, never fewer than 10.
int fetchRegsFor(uint32_t count) {
    const uint32_t half = count / 2 + count % 2;
    return static_cast<int>(std::clamp<uint32_t>(half, kMinFetchRegs, reg::kBlockDataRegs));
}

// A receive read over TCP that failed where the daemon may have read the
// block on the line: its bytes, if any, are gone.
bool mayHaveBeenRead(int errorNumber) {
    return errorNumber == ETIMEDOUT ||
           errorNumber == MODBUS_ENOBASE + MODBUS_EXCEPTION_GATEWAY_TARGET;
}

// Under the lock.  A receive block whose answer the node still owes is
// settled first: when it comes, it is the next block (the node handed its
// bytes out already).  False when the node does not answer.
bool settleOwedBlock(SnSerial& ser, PortLedger& ledger) {
    if (!ledger.receiveOwed) return true;
    if (!mb::settle(ser.ctx)) return false;
    ledger.receiveOwed = false;
    return true;
}

// Under the lock.  Refills the port's buffer; false when the read failed or
// the node has nothing.
bool fetchBlock(SnSerial& ser, uint32_t count) {
    PortLedger& ledger = ledgerOf(ser);
    if (!settleOwedBlock(ser, ledger)) return false;
    if (ser.rxAvail != 0) return true;  // the owed block came
    const int n = fetchRegsFor(count);
    // Owed until the node tells: news of it during the call lands here too.
    ledger.receiveOwed = true;
    const int rc =
        mb::readRegisters(ser.ctx, reg::portRegister(ser.port, reg::kRxBlock), n + 1, ser.rxRegs);
    const int failure = errno;
    if (rc != -1 || !mb::lastRequestOwed()) ledger.receiveOwed = false;
    if (rc == -1 && isTcpLink(ser.ctx) && mayHaveBeenRead(failure)) ++ledger.unknownRxBlocks;
    errno = failure;
    const uint16_t c = ser.rxRegs[0];
    if (c != 0) trace("snSerRead got %d chars\n", c);
    if (rc == -1 || c == 0) return false;
    ser.rxIndex = kBlockDataStart;
    // A node reporting more than the block holds has the excess cut off.
    ser.rxAvail = static_cast<uint16_t>(std::min<int>(c, 2 * n));
    return true;
}

void traceSending(const uint8_t* cursor, uint32_t remaining) {
    if (debugLevel() == 0) return;
    // Raw text up to the first zero byte, never past the caller's data.
    const void* zero = std::memchr(cursor, 0, remaining);
    const size_t len =
        zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - cursor) : remaining;
    trace("Sending %.*s\n", static_cast<int>(std::min<size_t>(len, 0x7fffffff)),
          reinterpret_cast<const char*>(cursor));
}

// After the transaction of a chunk failed: the chunk is in doubt while
// its answer is owed (the node may have taken some of it).
void afterFailedChunk(SnSerial& ser, PortLedger& ledger, uint16_t n) {
    const int failure = errno;
    if (ledger.chunk == PortLedger::Chunk::InFlight) {
        ledger.chunk = mb::lastRequestOwed() ? PortLedger::Chunk::Unknown : PortLedger::Chunk::None;
    } else if (ledger.chunk == PortLedger::Chunk::NotTaken) {
        ledger.chunk = PortLedger::Chunk::None;
    }
    if (isTcpLink(ser.ctx) && mayHaveBeenRead(failure)) ledger.unknownTxBytes += n;
    errno = failure;
}

// One chunk under the lock: the bytes the node took (at most the chunk), or
// -1 when the transaction failed.
int sendChunk(SnSerial& ser, const uint8_t* cursor, uint16_t n, uint32_t remaining) {
    LibLock lock;
    if (!portIsOpenLocked(&ser)) return -1;
    traceSending(cursor, remaining);
    packBlock(ser.txRegs, cursor, n);
    PortLedger& ledger = ledgerOf(ser);
    ledger.chunk = PortLedger::Chunk::InFlight;
    ledger.chunkLength = n;
    uint16_t status = 0;
    const int rc = mb::writeAndReadRegisters(
        ser.ctx, reg::portRegister(ser.port, reg::kTxBlock), (n + 3) / 2, ser.txRegs,
        reg::portRegister(ser.port, reg::kTxStatus), 1, &status);
    if (rc < 0) {
        afterFailedChunk(ser, ledger, n);
        return -1;
    }
    ledger.chunk = PortLedger::Chunk::None;
    // A node claiming more than it was given must not make us skip data.
    return std::min<int>(status & 0xFF, n);
}

// Under the lock, before a write: a chunk whose fate was in doubt is
// settled first, and what the node took of it is kept for the caller to
// collect.  False with errno when the node does not answer: nothing may
// be sent then, or the node might have those bytes twice.
bool settleChunk(SnSerial& ser) {
    PortLedger& ledger = ledgerOf(ser);
    if (ledger.chunk == PortLedger::Chunk::Unknown && !mb::settle(ser.ctx)) return false;
    // In step, yet no news of it (its debt was crowded out): counted.
    if (ledger.chunk == PortLedger::Chunk::Unknown) ledger.unknownTxBytes += ledger.chunkLength;
    if (ledger.chunk == PortLedger::Chunk::Taken) ledger.takenLate += ledger.taken;
    ledger.chunk = PortLedger::Chunk::None;
    return true;
}

}  // namespace

extern "C" int snSerRead(SnSerial* ser, void* buf, uint32_t count) {
    if (ser == nullptr || buf == nullptr) {
        errno = EINVAL;
        return 0;
    }
    LibLock lock;
    if (ser->node == nullptr || ser->ctx == nullptr) {
        errno = EINVAL;
        return 0;
    }
    trace("snSerRead(" SN_NAME "[%d,%d], p, %lu)\n", ser->node->portName, ser->node->slaveId,
          ser->port, static_cast<unsigned long>(count));
    auto* out = static_cast<uint8_t*>(buf);
    uint32_t delivered = 0;
    while (delivered < count) {
        if (ser->rxAvail != 0) {
            out[delivered++] = blockByte(ser->rxRegs, ser->rxIndex++);
            --ser->rxAvail;
        } else if (!fetchBlock(*ser, count)) {
            break;
        }
    }
    return static_cast<int>(delivered);
}

extern "C" int snSerWrite(SnSerial* ser, const void* data, uint32_t len) {
    if (ser == nullptr || data == nullptr) {
        errno = EINVAL;
        return 0;
    }
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return 0;
    trace("snSerWrite(" SN_NAME "[%d,%d], p, %lu)\n", node->portName, node->slaveId, ser->port,
          static_cast<unsigned long>(len));
    const auto* cursor = static_cast<const uint8_t*>(data);
    uint32_t sent = 0;
    {
        LibLock lock;
        if (!portIsOpenLocked(ser) || !settleChunk(*ser)) return 0;
    }
    int stalls = 0;
    while (sent < len) {
        const auto n = static_cast<uint16_t>(std::min<uint32_t>(len - sent, reg::kBlockDataBytes));
        const int accepted = sendChunk(*ser, cursor, n, len - sent);
        if (accepted < 0) break;
        sent += static_cast<uint32_t>(accepted);
        cursor += accepted;
        if (accepted < n) pauseMicroseconds(kPartialChunkPauseUs);
        stalls = accepted == 0 ? stalls + 1 : 0;
        if (stalls > kMaxStalledChunks) break;
    }
    return static_cast<int>(sent);
}

extern "C" int snSerRxCount(SnSerial* ser) {
    if (ser == nullptr) return 0;
    return ser->rxAvail;
}

extern "C" int snSerGetUnknown(SnSerial* ser, uint32_t* rxBlocks, uint32_t* txBytes) {
    if (ser == nullptr) {
        errno = EINVAL;
        return -1;
    }
    LibLock lock;
    const PortLedger& ledger = ledgerOf(*ser);
    if (rxBlocks != nullptr) *rxBlocks = ledger.unknownRxBlocks;
    if (txBytes != nullptr) *txBytes = ledger.unknownTxBytes;
    return 0;
}

extern "C" int snSerWriteSettle(SnSerial* ser) {
    if (ser == nullptr) {
        errno = EINVAL;
        return -1;
    }
    LibLock lock;
    if (!portIsOpenLocked(ser) || !settleChunk(*ser)) return -1;
    PortLedger& ledger = ledgerOf(*ser);
    const uint32_t taken = ledger.takenLate;
    ledger.takenLate = 0;
    return static_cast<int>(taken);
}

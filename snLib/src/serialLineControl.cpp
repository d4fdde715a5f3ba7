// Line control of a virtual port: drain, flushes, break and error flags.
#include "libState.h"
#include "pause.h"
#include "registerMap.h"
#include "trace.h"
#include "transactions.h"

#include <modbus.h>

#include <cerrno>

using namespace snlib;

namespace {

constexpr uint64_t kDrainPollUs = 100000;
constexpr uint32_t kDrainStep = 10;  // hundredths of a second per poll

// One single-register write on the port's block under the lock.
int writePortRegister(SnSerial& ser, int offset, uint16_t value) {
    LibLock lock;
    if (!portIsOpenLocked(&ser)) return -1;
    return statusOf(mb::writeRegister(ser.ctx, reg::portRegister(ser.port, offset), value));
}

// Reads the shared busy register; -1 on failure.
int readBusyFlags(SnSerial& ser, uint16_t& flags) {
    LibLock lock;
    if (!portIsOpenLocked(&ser)) return -1;
    return statusOf(mb::readRegisters(ser.ctx, reg::kTxBusy, 1, &flags));
}

}  // namespace

extern "C" int snSerDrain(SnSerial* ser, uint32_t budget) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snSerDrain(" SN_NAME "[%d,%d], %lu)\n", node->portName, node->slaveId, ser->port,
          static_cast<unsigned long>(budget));
    uint32_t remaining = budget;
    while (remaining != 0) {
        uint16_t flags = 0;
        if (readBusyFlags(*ser, flags) < 0) return -1;
        // Port 0 has no busy bit (bit 4p - 1 would be negative): one
        // successful read is all its drain does.
        if (ser->port == 0) return 0;
        const unsigned busyBit = 4u * ser->port - 1u;
        if ((flags & (1u << busyBit)) == 0) return 0;
        pauseMicroseconds(kDrainPollUs);
        remaining = remaining > kDrainStep ? remaining - kDrainStep : 0;
    }
    return 0;
}

extern "C" int snSerIFlush(SnSerial* ser) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snSerIFlush(" SN_NAME "[%d,%d])\n", node->portName, node->slaveId, ser->port);
    LibLock lock;
    if (!portIsOpenLocked(ser)) return -1;
    // Buffered bytes go even if the node does not answer the flush.
    ser->rxAvail = 0;
    return statusOf(mb::writeRegister(ser->ctx, reg::portRegister(ser->port, reg::kRxControl),
                                      reg::kFlushCommand));
}

extern "C" int snSerOFlush(SnSerial* ser) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snSerOFlush(" SN_NAME "[%d,%d])\n", node->portName, node->slaveId, ser->port);
    return writePortRegister(*ser, reg::kTxControl, reg::kFlushCommand);
}

extern "C" int snSerBreak(SnSerial* ser, uint16_t ms) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snSerBreak(" SN_NAME "[%d,%d], %hu)\n", node->portName, node->slaveId, ser->port, ms);
    writePortRegister(*ser, reg::kBreak, 1);
    if (ms != 0) pauseMicroseconds(static_cast<uint64_t>(ms) * 1000);
    return writePortRegister(*ser, reg::kBreak, 0);
}

extern "C" int snSerSetBreak(SnSerial* ser, int16_t on) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snSerSetBreak(" SN_NAME "[%d,%d], %hd)\n", node->portName, node->slaveId, ser->port, on);
    return writePortRegister(*ser, reg::kBreak, on != 0 ? 1 : 0);
}

extern "C" int snSerGetErrFlags(SnSerial* ser, uint16_t* flags) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    if (flags == nullptr) return failWith(EINVAL);
    int status;
    {
        LibLock lock;
        if (!portIsOpenLocked(ser)) return -1;
        status = statusOf(
            mb::readRegisters(ser->ctx, reg::portRegister(ser->port, reg::kErrorFlags), 1, flags));
    }
    trace("snSerGetErrFlags(" SN_NAME "[%d,%d] = 0x%hx)\n", node->portName, node->slaveId,
          ser->port, *flags);
    return status;
}

extern "C" int snSerClearErrFlags(SnSerial* ser, uint16_t mask) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snSerClearErrFlags(" SN_NAME "[%d,%d], %hd)\n", node->portName, node->slaveId, ser->port,
          static_cast<short>(mask));
    // Only the clearable bits go out, so a clear can never flush the receive side.
    return writePortRegister(*ser, reg::kRxControl,
                             static_cast<uint16_t>(mask & reg::kClearableErrorMask));
}

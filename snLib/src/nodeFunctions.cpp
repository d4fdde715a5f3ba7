// Node-level functions: power outputs, blink and configuration coils,
// analog channels and parameters, identity and configuration registers.
#include "libState.h"
#include "registerMap.h"
#include "trace.h"
#include "transactions.h"

#include <modbus.h>

#include <cerrno>

using namespace snlib;

namespace {

constexpr uint16_t kMaxOutput = SN_POWER_OUTPUTS - 1;
constexpr int kChannels = SN_ANALOG_CHANNELS;

// Reads `count` registers from `address` under the lock.
int readRegisters(SensorNode* node, int address, int count, uint16_t* dest) {
    LibLock lock;
    if (!nodeIsOpenLocked(node)) return -1;
    return statusOf(mb::readRegisters(node->ctx, address, count, dest));
}

int writeCoil(SensorNode* node, int address, bool on) {
    LibLock lock;
    if (!nodeIsOpenLocked(node)) return -1;
    return statusOf(mb::writeBit(node->ctx, address, on ? TRUE : FALSE));
}

// Checks shared by the single-register getters.
int readOneRegister(SensorNode* node, int address, uint16_t* dest) {
    if (dest == nullptr || !nodeIsOpen(node)) return failWith(EINVAL);
    return readRegisters(node, address, 1, dest);
}

bool channelRangeValid(uint16_t first, uint16_t count) {
    return static_cast<int>(first) + static_cast<int>(count) <= kChannels;
}

int analogParmsAddress(uint16_t first) { return reg::kAnalogParms0 + 2 * first; }

}  // namespace

extern "C" int snPower(SensorNode* node, uint16_t output, int16_t state) {
    if (output > kMaxOutput || !nodeIsOpen(node)) return failWith(EINVAL);
    trace("snPower(" SN_NAME "[%d], %d, %hd)\n", node->portName, node->slaveId, output, state);
    return writeCoil(node, reg::kPowerCoil0 + output, state != 0);
}

extern "C" int snPowerIsOn(SensorNode* node, uint16_t output) {
    if (output > kMaxOutput || !nodeIsOpen(node)) return failWith(EINVAL);
    trace("snPowerIsOn(" SN_NAME "[%d], %d)\n", node->portName, node->slaveId, output);
    uint8_t bit = 0;
    LibLock lock;
    if (!nodeIsOpenLocked(node)) return -1;
    if (mb::readBits(node->ctx, reg::kPowerCoil0 + output, 1, &bit) <= 0) return -1;
    return bit != 0 ? 1 : 0;
}

extern "C" int snGetPowerVector(SensorNode* node, uint16_t* vector) {
    if (vector == nullptr || !nodeIsOpen(node)) return failWith(EINVAL);
    trace("snGetPowerVector(" SN_NAME "[%d])\n", node->portName, node->slaveId);
    return readRegisters(node, reg::kPowerVector, 1, vector);
}

extern "C" int snAnalogChan(SensorNode* node, uint16_t channel, uint16_t* value) {
    if (channel >= kChannels) return failWith(EINVAL);
    return readOneRegister(node, reg::kAnalogValue0 + channel, value);
}

extern "C" int snAnalogChans(SensorNode* node, uint16_t first, uint16_t count, uint16_t* values) {
    if (!channelRangeValid(first, count) || values == nullptr || !nodeIsOpen(node)) {
        return failWith(EINVAL);
    }
    return readRegisters(node, reg::kAnalogValue0 + first, count, values);
}

extern "C" int snSetAnalogParms(SensorNode* node, uint16_t first, uint16_t count,
                                const uint16_t* parms) {
    if (!channelRangeValid(first, count) || parms == nullptr || !nodeIsOpen(node)) {
        return failWith(EINVAL);
    }
    LibLock lock;
    if (!nodeIsOpenLocked(node)) return -1;
    return statusOf(mb::writeRegisters(node->ctx, analogParmsAddress(first), 2 * count, parms));
}

extern "C" int snGetAnalogParms(SensorNode* node, uint16_t first, uint16_t count, uint16_t* parms) {
    if (!channelRangeValid(first, count) || parms == nullptr || !nodeIsOpen(node)) {
        return failWith(EINVAL);
    }
    return readRegisters(node, analogParmsAddress(first), 2 * count, parms);
}

extern "C" int snGetSerialNum(SensorNode* node, uint16_t* serialNum) {
    return readOneRegister(node, reg::kSerialNumber, serialNum);
}

extern "C" int snGetSoftwareRev(SensorNode* node, uint16_t* revision) {
    return readOneRegister(node, reg::kSoftwareRev, revision);
}

extern "C" int snGetBoardConfig(SensorNode* node, uint32_t* config) {
    if (config == nullptr || !nodeIsOpen(node)) return failWith(EINVAL);
    uint16_t halves[2] = {0, 0};
    const int status = readRegisters(node, reg::kBoardConfigHigh, 2, halves);
    // Stored either way; after a failure the value means nothing.
    *config = (static_cast<uint32_t>(halves[0]) << 16) | halves[1];
    return status;
}

extern "C" int snGetHwConfig(SensorNode* node, uint16_t* config) {
    return readOneRegister(node, reg::kHwConfig, config);
}

extern "C" int snSetDCAlwaysOn(SensorNode* node, int16_t state) {
    if (!nodeIsOpen(node)) return -1;
    return writeCoil(node, reg::kDcAlwaysOnCoil, state != 0);
}

extern "C" int snResetConfigMode(SensorNode* node) {
    if (!nodeIsOpen(node)) return -1;
    return writeCoil(node, reg::kResetConfigCoil, true);
}

extern "C" int snBlinky(SensorNode* node, int pattern) {
    if (!nodeIsOpen(node)) return -1;
    // Pattern 0: both off; 1: coil 10 only; anything else: coil 9 only.
    const uint8_t coils[2] = {static_cast<uint8_t>(pattern != 0 && pattern != 1),
                              static_cast<uint8_t>(pattern == 1)};
    LibLock lock;
    if (!nodeIsOpenLocked(node)) return -1;
    return statusOf(mb::writeBits(node->ctx, reg::kBlinkCoil, 2, coils));
}

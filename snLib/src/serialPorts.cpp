// Opening and closing virtual ports, their line settings and transmit enable.
#include "blockPacking.h"
#include "libState.h"
#include "registerMap.h"
#include "trace.h"
#include "transactions.h"

#include <modbus.h>

#include <cerrno>

using namespace snlib;

namespace {

int txEnableCoil(const SnSerial& ser) { return reg::kTxEnableCoil0 + ser.port; }

// Under the lock: attach the record to its node and count the open.
// Returns false (EINVAL) when the node's link is not open.
bool attachPort(SensorNode& node, uint16_t port) {
    if (!nodeIsOpenLocked(&node)) return false;
    SnSerial& ser = node.serial[port];
    ser.node = &node;
    ser.ctx = node.ctx;
    ser.port = port;
    if (ser.refCount++ == 0) {
        ser.rxIndex = kBlockDataStart;
        ser.rxAvail = 0;
    }
    return true;
}

uint16_t frameFormatWord(char parity, int stopBits) {
    uint16_t word = 8;
    if (parity == 'E' || parity == 'e')
        word = 10;
    else if (parity == 'O' || parity == 'o')
        word = 12;
    if (stopBits == 2) word = static_cast<uint16_t>(word + 1);
    return word;
}

}  // namespace

extern "C" SnSerial* snOpenSerial(SensorNode* node, uint16_t port) {
    if (node == nullptr || port >= kPortsPerNode) {
        errno = EINVAL;
        return nullptr;
    }
    // A node that is not open has no context to give the port: refuse it
    // before anything is counted or printed.
    if (!nodeIsOpen(node)) return nullptr;
    trace("snOpenSerial(" SN_NAME "[%d], %u)\n", node->portName, node->slaveId, port);
    SnSerial* ser = &node->serial[port];
    int written;
    {
        LibLock lock;
        if (!attachPort(*node, port)) return nullptr;
        written = mb::writeBit(ser->ctx, txEnableCoil(*ser), TRUE);
    }
    if (written < 0) {
        debugNote("Failed TxEnable on " SN_NAME " port %d:  %s\n", node->portName, port,
                  modbus_strerror(errno));
        snCloseSerial(ser);
        return nullptr;
    }
    return ser;
}

extern "C" int snCloseSerial(SnSerial* ser) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snCloseSerial(" SN_NAME "[%d])\n", node->portName, node->slaveId);
    LibLock lock;
    if (!portIsOpenLocked(ser)) return -1;
    if (--ser->refCount == 0) {
        mb::writeBit(ser->ctx, txEnableCoil(*ser), FALSE);
        ser->node = nullptr;
        ser->ctx = nullptr;
    }
    return 0;
}

extern "C" int snSerInit(SnSerial* ser, int speed, char parity, int stopBits) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    trace("snSerInit(" SN_NAME "[%d,%d], %d, %c, %d)\n", node->portName, node->slaveId, ser->port,
          speed, parity, stopBits);
    // The node takes the speed as its quarter, cut to 16 bits.
    const uint16_t words[2] = {static_cast<uint16_t>(static_cast<unsigned>(speed) >> 2),
                               frameFormatWord(parity, stopBits)};
    LibLock lock;
    if (!portIsOpenLocked(ser)) return -1;
    return statusOf(
        mb::writeRegisters(ser->ctx, reg::portRegister(ser->port, reg::kLineSpeed), 2, words));
}

extern "C" int snSerSetTxEnbl(SnSerial* ser, int16_t flag) {
    const SensorNode* node = openPortOwner(ser);
    if (node == nullptr) return -1;
    int result;
    {
        LibLock lock;
        if (!portIsOpenLocked(ser)) return -1;
        result = mb::writeBit(ser->ctx, txEnableCoil(*ser), flag != 0 ? TRUE : FALSE);
    }
    trace("snSerSetTxEnbl(" SN_NAME "[%d,%d], %hd)\n", node->portName, node->slaveId, ser->port,
          flag);
    return statusOf(result);
}

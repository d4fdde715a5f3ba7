// The node's Modbus register map: every address the library touches.
// Addresses are zero-based protocol addresses, as they travel on the line.
#pragma once

#include <cstdint>

#include "snLimits.h"

namespace snlib::reg {

// Coils.
constexpr int kPowerCoil0 = 0;     // power outputs 0-3 at 0..3
constexpr int kTxEnableCoil0 = 4;  // transmit enable of port p at 4 + p
constexpr int kBlinkCoil = 9;      // blink pattern: coils 9 and 10 together
constexpr int kDcAlwaysOnCoil = 11;
constexpr int kResetConfigCoil = 12;

// Holding registers of the node.
constexpr int kSerialNumber = 15;
constexpr int kSoftwareRev = 16;
constexpr int kBoardConfigHigh = 17;  // 17 high half, 18 low half
constexpr int kPowerVector = 19;
constexpr int kHwConfig = 20;
constexpr int kDeviceTimeout = 21;
constexpr int kAnalogValue0 = 31;  // channel c at 31 + c
constexpr int kAnalogParms0 = 47;  // channel c at 47 + 2c and 48 + 2c
constexpr int kTxBusy = 254;       // bit 4p - 1 for ports 1 and 2

// Per-port block: port p owns base 256 * p plus these offsets.
constexpr int kPortBlockStride = 256;
constexpr int kLineSpeed = 255;  // speed / 4, then the frame format word
constexpr int kRxControl = 257;  // 32 flushes, 0-31 clears error flags
constexpr int kErrorFlags = 259;
constexpr int kRxBlock = 262;    // count register + up to 120 data registers
constexpr int kTxStatus = 386;   // low byte: bytes accepted
constexpr int kTxControl = 387;  // 32 flushes
constexpr int kBreak = 388;      // 1 starts a break, 0 ends it
constexpr int kTxBlock = 390;    // count register + up to 120 data registers

constexpr uint16_t kFlushCommand = 32;
constexpr uint16_t kClearableErrorMask = 31;
constexpr uint16_t kDefaultDeviceTimeout = 200;
constexpr uint16_t kMinDeviceTimeout = SN_MIN_DEVICE_TIMEOUT;

constexpr int kBlockDataBytes = SN_BLOCK_BYTES;
constexpr int kBlockDataRegs = SN_BLOCK_BYTES / 2;

constexpr int portRegister(uint16_t port, int offset) { return kPortBlockStride * port + offset; }

}  // namespace snlib::reg

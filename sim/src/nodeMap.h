// Register map and state of one slave of the node: the libmodbus mapping
// that replies are built from, plus the side effects of writes (port
// control, configuration reset) and the values computed at read time
// (analog inputs, power vector, busy flags, receive block).
//
// The emulator keeps its own copy of the map on purpose, and includes none
// of the library's headers: it is the independent check on the library, so
// a wrong address in one cannot be confirmed by the same wrong address in
// the other.
#pragma once

#include "portModel.h"
#include "rtuFrame.h"

#include <modbus/modbus.h>

#include <array>
#include <cstdint>
#include <optional>

namespace snsim::detail {

inline constexpr int kCoilCount = 13;   // coils 0..12
inline constexpr int kRegCount = 1023;  // registers 0..1022
inline constexpr int kPorts = 3;

// Register addresses (B = 256 * port for the per-port ones).
inline constexpr int kRegSerial = 15, kRegSwRev = 16, kRegBoardHi = 17, kRegBoardLo = 18,
                     kRegPowerVector = 19, kRegHwConfig = 20, kRegTimeout = 21, kRegAnalog = 31,
                     kRegAnalogParms = 47, kRegBusy = 254;
inline constexpr int kOffSpeed = 255, kOffFormat = 256, kOffRxCtl = 257, kOffErr = 259,
                     kOffRxBlock = 262, kOffTxStatus = 386, kOffTxCtl = 387, kOffBreak = 388,
                     kOffTxBlock = 390, kBlockRegs = 121;
inline constexpr int kCoilTxEnable = 4, kCoilBlinkA = 9, kCoilBlinkB = 10, kCoilDc = 11,
                     kCoilResetConfig = 12;

// Busy bit of port p in register 254: 4p - 1, taken modulo 16 (port 0: 15).
constexpr uint16_t busyBit(int port) { return static_cast<uint16_t>(1u << ((4 * port + 15) % 16)); }

class NodeMap {
public:
    NodeMap(int slave, std::size_t txFifo, std::size_t rxFifo, Clock::time_point epoch);
    ~NodeMap();
    NodeMap(const NodeMap&) = delete;
    NodeMap& operator=(const NodeMap&) = delete;

    int slave() const { return slave_; }
    modbus_mapping_t* mapping() { return map_; }
    PortModel& port(int p) { return ports_[static_cast<std::size_t>(p)]; }
    const PortModel& port(int p) const { return ports_[static_cast<std::size_t>(p)]; }

    // 0 when the request may go to modbus_reply after apply/prepare, an
    // exception code to answer instead, or -1 when the quantities are
    // outside what libmodbus accepts (let modbus_reply refuse it).
    int check(const Request& r) const;
    // Applies the write part of a checked request (state and mapping).
    void applyWrites(const Request& r, Clock::time_point now);
    // Computes the registers the read part will return; takes received
    // bytes out of the FIFO when the receive block is read.
    void prepareRead(const Request& r, Clock::time_point now);
    // Makes the counts the read part returns absurd (a misbehaving node):
    // receive count 65535 when bytes are handed out, transmit status 255.
    void exaggerateCounts(const Request& r);
    // Restores self-clearing values after modbus_reply stored the request.
    void afterReply();

    void advance(Clock::time_point now);

    // Direct access for the in-process API (side effects as a write).
    uint16_t reg(int address, Clock::time_point now);
    void setReg(int address, uint16_t value, Clock::time_point now);
    bool coil(int address) const;
    void setCoil(int address, bool on, Clock::time_point now);

    void resetConfiguration(Clock::time_point now);
    // Register 19 reads `vector` from now on, whatever the coils.
    void fixPowerVector(uint16_t vector) { fixedPowerVector_ = vector; }

private:
    void writeReg(int address, uint16_t value, Clock::time_point now);
    void writeCoil(int address, bool on, Clock::time_point now);
    void refreshReg(int address, Clock::time_point now);
    void fillRxBlock(int p, int dataRegs);
    void applyTxBlock(int p, int first, const std::vector<uint16_t>& values, std::size_t offset,
                      Clock::time_point now);
    uint16_t analogValue(int channel, Clock::time_point now) const;

    int slave_;
    modbus_mapping_t* map_ = nullptr;
    std::array<PortModel, kPorts> ports_;
    std::array<std::optional<uint16_t>, 8> analogPinned_{};
    uint16_t forcedBusy_ = 0;
    std::optional<uint16_t> fixedPowerVector_;
    Clock::time_point epoch_;
};

// Address validity of the map, for reads and for writes.
bool validRegister(int address, bool forWrite);
bool validCoil(int address);
// A virtual port's data transaction: a transmit block written by function
// 23, or a receive block read by function 3.
bool isPortTransfer(const Request& r);

}  // namespace snsim::detail

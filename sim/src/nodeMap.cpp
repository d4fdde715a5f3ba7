#include "nodeMap.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace snsim::detail {

namespace {

// First register and count the read part of a request covers (none: -1, 0).
std::pair<int, int> readSpan(const Request& r) {
    if (r.function == 3) return {r.address, r.quantity};
    if (r.function == 23) return {r.readAddress, r.readQuantity};
    return {-1, 0};
}

// Default configuration, restored by coil 12.
constexpr uint16_t kDefaultTimeout = 100;
constexpr uint16_t kDefaultSpeedQuarter = 2400;  // 9600 bps
constexpr uint16_t kDefaultFormat = 8;           // 8N1

int portOf(int address) { return (address + 1) / 256 - 1; }  // port whose block holds it
int offsetOf(int address) { return address - 256 * portOf(address); }

}  // namespace

bool validRegister(int address, bool forWrite) {
    if (address < 0 || address >= kRegCount) return false;
    if (address >= 255) {
        const int off = offsetOf(address);
        if (off == kOffSpeed || off == kOffFormat || off == kOffRxCtl || off == kOffTxCtl ||
            off == kOffBreak)
            return true;
        if (off >= kOffTxBlock && off < kOffTxBlock + kBlockRegs) return true;
        if (forWrite) return false;
        return off == kOffErr || off == kOffTxStatus ||
               (off >= kOffRxBlock && off < kOffRxBlock + kBlockRegs);
    }
    if (address == kRegTimeout) return true;
    if (address >= kRegAnalogParms && address < kRegAnalogParms + 16) return true;
    if (forWrite) return false;
    return (address >= kRegSerial && address <= kRegHwConfig) ||
           (address >= kRegAnalog && address < kRegAnalog + 8) || address == kRegBusy;
}

bool validCoil(int address) {
    return (address >= 0 && address <= kCoilTxEnable + 2) ||
           (address >= kCoilBlinkA && address <= kCoilResetConfig);
}

bool isPortTransfer(const Request& r) {
    if ((r.function != 3 && r.function != 23) || r.address < 255 || r.address >= kRegCount)
        return false;
    return offsetOf(r.address) == (r.function == 23 ? kOffTxBlock : kOffRxBlock);
}

NodeMap::NodeMap(int slave, std::size_t txFifo, std::size_t rxFifo, Clock::time_point epoch)
    : slave_(slave),
      ports_{PortModel(txFifo, rxFifo), PortModel(txFifo, rxFifo), PortModel(txFifo, rxFifo)},
      epoch_(epoch) {
    map_ = modbus_mapping_new(kCoilCount, 0, kRegCount, 0);
    if (!map_) throw std::bad_alloc();
    uint16_t* r = map_->tab_registers;
    r[kRegSerial] = static_cast<uint16_t>(4100 + slave);
    r[kRegSwRev] = 0x0203;  // 2.3
    r[kRegBoardHi] = 0x0001;
    r[kRegBoardLo] = 0x3A07;
    r[kRegHwConfig] = 0x0027;
    for (int c = 0; c < 16; ++c) r[kRegAnalogParms + c] = 0;
    resetConfiguration(epoch);
}

NodeMap::~NodeMap() { modbus_mapping_free(map_); }

void NodeMap::resetConfiguration(Clock::time_point now) {
    uint16_t* r = map_->tab_registers;
    r[kRegTimeout] = kDefaultTimeout;
    for (int c = 0; c < 16; ++c) r[kRegAnalogParms + c] = static_cast<uint16_t>(c % 2 ? 0 : 1);
    for (int p = 0; p < kPorts; ++p) {
        r[256 * p + kOffSpeed] = kDefaultSpeedQuarter;
        r[256 * p + kOffFormat] = kDefaultFormat;
        ports_[static_cast<std::size_t>(p)].setSpeed(4u * kDefaultSpeedQuarter, now);
    }
    map_->tab_bits[kCoilBlinkA] = 0;
    map_->tab_bits[kCoilBlinkB] = 0;
    map_->tab_bits[kCoilDc] = 0;
    map_->tab_bits[kCoilResetConfig] = 0;
}

void NodeMap::advance(Clock::time_point now) {
    for (auto& p : ports_) p.advance(now);
}

int NodeMap::check(const Request& r) const {
    auto regsOk = [](int addr, int qty, bool write) {
        for (int a = addr; a < addr + qty; ++a)
            if (!validRegister(a, write)) return false;
        return true;
    };
    switch (r.function) {
        case 1:
            if (r.quantity < 1 || r.quantity > MODBUS_MAX_READ_BITS) return -1;
            for (int a = r.address; a < r.address + r.quantity; ++a)
                if (!validCoil(a)) return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
            return 0;
        case 5:
            if (!r.wellFormed) return -1;
            return validCoil(r.address) ? 0 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        case 15:
            if (r.quantity < 1 || r.quantity > MODBUS_MAX_WRITE_BITS) return -1;
            if (!r.wellFormed) return MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
            for (int a = r.address; a < r.address + r.quantity; ++a)
                if (!validCoil(a)) return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
            return 0;
        case 3:
            if (r.quantity < 1 || r.quantity > MODBUS_MAX_READ_REGISTERS) return -1;
            return regsOk(r.address, r.quantity, false) ? 0 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        case 6:
            return validRegister(r.address, true) ? 0 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        case 16:
            if (r.quantity < 1 || r.quantity > MODBUS_MAX_WRITE_REGISTERS) return -1;
            if (!r.wellFormed) return MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
            return regsOk(r.address, r.quantity, true) ? 0 : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        case 23:
            if (r.quantity < 1 || r.quantity > MODBUS_MAX_WR_WRITE_REGISTERS ||
                r.readQuantity < 1 || r.readQuantity > MODBUS_MAX_WR_READ_REGISTERS ||
                !r.wellFormed)
                return -1;
            return regsOk(r.address, r.quantity, true) &&
                           regsOk(r.readAddress, r.readQuantity, false)
                       ? 0
                       : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        default:
            return -1;  // libmodbus answers (illegal function / address)
    }
}

void NodeMap::applyWrites(const Request& r, Clock::time_point now) {
    switch (r.function) {
        case 5:
        case 15:
            for (std::size_t i = 0; i < r.values.size(); ++i)
                writeCoil(r.address + static_cast<int>(i), r.values[i] != 0, now);
            break;
        case 6:
        case 16:
        case 23: {
            for (std::size_t i = 0; i < r.values.size(); ++i) {
                const int a = r.address + static_cast<int>(i);
                if (a >= 255 && offsetOf(a) == kOffTxBlock)
                    applyTxBlock(portOf(a), a, r.values, i, now);
                else
                    writeReg(a, r.values[i], now);
            }
            break;
        }
        default:
            break;
    }
}

void NodeMap::applyTxBlock(int p, int first, const std::vector<uint16_t>& values,
                           std::size_t offset, Clock::time_point now) {
    uint16_t* regs = map_->tab_registers;
    const std::size_t dataRegs = values.size() - offset - 1;
    std::size_t count = values[offset];
    if (count > 2 * dataRegs) count = 2 * dataRegs;
    if (count > 240) count = 240;
    std::vector<uint8_t> bytes(count);
    for (std::size_t k = 0; k < count; ++k) {
        const uint16_t w = values[offset + 1 + k / 2];
        bytes[k] = static_cast<uint8_t>(k % 2 ? (w & 0xFF) : (w >> 8));
    }
    const bool enabled = map_->tab_bits[kCoilTxEnable + p] != 0;
    const std::size_t accepted = port(p).acceptTx(bytes.data(), bytes.size(), enabled, now);
    regs[256 * p + kOffTxStatus] = static_cast<uint16_t>(accepted & 0xFF);
    regs[first] = values[offset];
}

void NodeMap::prepareRead(const Request& r, Clock::time_point now) {
    const auto [addr, qty] = readSpan(r);
    for (int a = addr; a >= 0 && a < addr + qty; ++a) {
        if (a >= 255 && offsetOf(a) == kOffRxBlock) {
            // The receive block: count register, then data registers.
            fillRxBlock(portOf(a), std::min(addr + qty - a - 1, kBlockRegs - 1));
            a += kBlockRegs - 1;
        } else {
            refreshReg(a, now);
        }
    }
}

void NodeMap::exaggerateCounts(const Request& r) {
    const auto [addr, qty] = readSpan(r);
    uint16_t* regs = map_->tab_registers;
    for (int a = addr; a >= 255 && a < addr + qty; ++a) {
        if (offsetOf(a) == kOffRxBlock && regs[a] != 0) regs[a] = 0xFFFF;
        if (offsetOf(a) == kOffTxStatus) regs[a] = 0x00FF;
    }
}

void NodeMap::fillRxBlock(int p, int dataRegs) {
    uint16_t* block = map_->tab_registers + 256 * p + kOffRxBlock;
    uint8_t bytes[240];
    const std::size_t n = port(p).takeRx(bytes, 2u * static_cast<std::size_t>(dataRegs));
    block[0] = static_cast<uint16_t>(n);
    for (int i = 0; i < kBlockRegs - 1; ++i) {
        const std::size_t k = 2u * static_cast<std::size_t>(i);
        const uint16_t hi = k < n ? bytes[k] : 0;
        const uint16_t lo = k + 1 < n ? bytes[k + 1] : 0;
        block[1 + i] = static_cast<uint16_t>((hi << 8) | lo);
    }
}

void NodeMap::refreshReg(int a, Clock::time_point now) {
    uint16_t* regs = map_->tab_registers;
    if (a == kRegPowerVector) {
        uint16_t v = 0;
        for (int i = 0; i < 4; ++i)
            if (map_->tab_bits[i]) v = static_cast<uint16_t>(v | (1u << i));
        regs[a] = fixedPowerVector_.value_or(v);
    } else if (a >= kRegAnalog && a < kRegAnalog + 8) {
        regs[a] = analogValue(a - kRegAnalog, now);
    } else if (a == kRegBusy) {
        uint16_t v = forcedBusy_;
        for (int p = 0; p < kPorts; ++p) {
            ports_[static_cast<std::size_t>(p)].advance(now);
            if (ports_[static_cast<std::size_t>(p)].txBusy())
                v = static_cast<uint16_t>(v | busyBit(p));
        }
        regs[a] = v;
    } else if (a >= 255 && offsetOf(a) == kOffErr) {
        regs[a] = port(portOf(a)).errorFlags();
    } else if (a >= 255 && offsetOf(a) == kOffBreak) {
        regs[a] = port(portOf(a)).breakActive() ? 1 : 0;
    }
}

uint16_t NodeMap::analogValue(int channel, Clock::time_point now) const {
    if (analogPinned_[static_cast<std::size_t>(channel)])
        return *analogPinned_[static_cast<std::size_t>(channel)];
    // A slow wave per channel around mid-scale of a 12-bit converter.
    const double t = std::chrono::duration<double>(now - epoch_).count();
    const double period = 4.0 + channel;
    const double v = 2048.0 + 1500.0 * std::sin(2.0 * std::numbers::pi * t / period + channel) +
                     static_cast<double>((static_cast<long>(t * 1000.0) * (channel + 3)) % 7);
    return static_cast<uint16_t>(std::lround(v));
}

void NodeMap::writeReg(int a, uint16_t v, Clock::time_point now) {
    uint16_t* regs = map_->tab_registers;
    if (a < 0 || a >= kRegCount) return;
    regs[a] = v;
    if (a < 255) return;
    const int p = portOf(a);
    PortModel& pm = port(p);
    switch (offsetOf(a)) {
        case kOffSpeed:
            pm.setSpeed(4u * v, now);
            break;
        case kOffRxCtl:
            if (v & 32) pm.flushRx();
            pm.clearErrorFlags(static_cast<uint16_t>(v & 31));
            break;
        case kOffTxCtl:
            if (v & 32) pm.flushTx();
            break;
        case kOffBreak:
            pm.setBreak(v != 0, now);
            regs[a] = v != 0 ? 1 : 0;
            break;
        default:
            break;
    }
}

void NodeMap::writeCoil(int a, bool on, Clock::time_point now) {
    if (a < 0 || a >= kCoilCount) return;
    if (a == kCoilResetConfig) {
        if (on) resetConfiguration(now);
        map_->tab_bits[a] = 0;
        return;
    }
    map_->tab_bits[a] = on ? 1 : 0;
}

void NodeMap::afterReply() { map_->tab_bits[kCoilResetConfig] = 0; }

uint16_t NodeMap::reg(int address, Clock::time_point now) {
    if (address < 0 || address >= kRegCount) return 0;
    refreshReg(address, now);
    return map_->tab_registers[address];
}

void NodeMap::setReg(int a, uint16_t v, Clock::time_point now) {
    if (a < 0 || a >= kRegCount) return;
    if (a == kRegPowerVector) {
        for (int i = 0; i < 4; ++i) map_->tab_bits[i] = (v >> i) & 1;
    } else if (a >= kRegAnalog && a < kRegAnalog + 8) {
        analogPinned_[static_cast<std::size_t>(a - kRegAnalog)] = v;
    } else if (a == kRegBusy) {
        forcedBusy_ = v;
    } else if (a >= 255 && offsetOf(a) == kOffErr) {
        port(portOf(a)).setErrorFlags(v);
    } else if (a >= 255 && offsetOf(a) == kOffTxBlock) {
        std::vector<uint16_t> block(map_->tab_registers + a, map_->tab_registers + a + kBlockRegs);
        block[0] = v;
        applyTxBlock(portOf(a), a, block, 0, now);
        return;
    }
    writeReg(a, v, now);
}

bool NodeMap::coil(int address) const {
    if (address < 0 || address >= kCoilCount) return false;
    return map_->tab_bits[address] != 0;
}

void NodeMap::setCoil(int address, bool on, Clock::time_point now) { writeCoil(address, on, now); }

}  // namespace snsim::detail

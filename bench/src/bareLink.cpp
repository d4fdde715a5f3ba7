#include "bareLink.h"

#include "lineLimit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace snbench {

namespace {

constexpr int kTxBlock = 390;
constexpr int kTxStatus = 386;
constexpr int kRxBlock = 262;
constexpr int kFullBlockRegs = 1 + SN_BLOCK_BYTES / 2;

}  // namespace

BareLink::~BareLink() {
    if (ctx_ != nullptr) {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
}

bool BareLink::open(const std::string& device, int slave) {
    ctx_ = modbus_new_rtu(device.c_str(), 115200, 'N', 8, 1);
    if (ctx_ == nullptr || modbus_set_slave(ctx_, slave) < 0 || modbus_connect(ctx_) < 0) {
        std::fprintf(stderr, "snbench: bare libmodbus on %s: %s\n", device.c_str(),
                     modbus_strerror(errno));
        return false;
    }
    modbus_rtu_set_serial_mode(ctx_, MODBUS_RTU_RS232);
    modbus_set_response_timeout(ctx_, 0, 600000);
    modbus_set_byte_timeout(ctx_, 0, 50000);
    return true;
}

int BareLink::writeBlock(const std::vector<uint16_t>& regs) {
    uint16_t status = 0;
    const int rc = modbus_write_and_read_registers(ctx_, kTxBlock, static_cast<int>(regs.size()),
                                                   regs.data(), kTxStatus, 1, &status);
    return rc < 0 ? -1 : status & 0xFF;
}

int BareLink::readBlock() {
    const int rc = modbus_read_registers(ctx_, kRxBlock, kFullBlockRegs, rx_);
    return rc < 0 ? -1 : rx_[0];
}

std::vector<std::vector<uint16_t>> packBlocks(const std::vector<uint8_t>& data) {
    std::vector<std::vector<uint16_t>> blocks;
    for (std::size_t at = 0; at < data.size(); at += kBlockBytes) {
        const std::size_t n = std::min<std::size_t>(kBlockBytes, data.size() - at);
        std::vector<uint16_t> regs(1 + (n + 1) / 2, 0);
        regs[0] = static_cast<uint16_t>(n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto shift = (i % 2 == 0) ? 8 : 0;
            regs[1 + i / 2] = static_cast<uint16_t>(regs[1 + i / 2] | (data[at + i] << shift));
        }
        blocks.push_back(std::move(regs));
    }
    return blocks;
}

}  // namespace snbench

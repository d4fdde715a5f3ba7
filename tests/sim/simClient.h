// Test helpers: an emulator plus a raw libmodbus RTU client on its device,
// the way hardware is talked to (not through snLib).
#pragma once

#include "snsim/emulator.h"

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Raw RTU master on a device path.
class Client {
public:
    explicit Client(const std::string& path, int slave = 1, int baud = 115200) {
        ctx_ = modbus_new_rtu(path.c_str(), baud, 'N', 8, 1);
        if (!ctx_) return;
        modbus_set_slave(ctx_, slave);
        modbus_set_response_timeout(ctx_, 0, 600000);
        modbus_set_byte_timeout(ctx_, 0, 50000);
        connected_ = modbus_connect(ctx_) == 0;
    }
    ~Client() {
        if (!ctx_) return;
        if (connected_) modbus_close(ctx_);
        modbus_free(ctx_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool ok() const { return ctx_ && connected_; }
    modbus_t* ctx() const { return ctx_; }
    void slave(int s) { modbus_set_slave(ctx_, s); }
    void timeout(std::chrono::milliseconds t) {
        modbus_set_response_timeout(ctx_, static_cast<uint32_t>(t.count() / 1000),
                                    static_cast<uint32_t>((t.count() % 1000) * 1000));
    }

    // One register; -1 on failure (errno from libmodbus).
    int readReg(int addr) {
        uint16_t v = 0;
        return modbus_read_registers(ctx_, addr, 1, &v) == 1 ? v : -1;
    }
    int readRegs(int addr, int n, std::vector<uint16_t>& out) {
        out.assign(static_cast<std::size_t>(n > 0 ? n : 1), 0);
        return modbus_read_registers(ctx_, addr, n, out.data());
    }
    int writeReg(int addr, uint16_t v) { return modbus_write_register(ctx_, addr, v); }
    int writeCoil(int addr, bool on) { return modbus_write_bit(ctx_, addr, on ? 1 : 0); }
    int readCoil(int addr) {
        uint8_t b = 0;
        return modbus_read_bits(ctx_, addr, 1, &b) == 1 ? b : -1;
    }

    // Sends bytes as one transmit block of port p (function 23 with the
    // status read); returns the accepted count or -1.
    int send(int port, const std::vector<uint8_t>& bytes) {
        std::vector<uint16_t> block(1 + (bytes.size() + 1) / 2, 0);
        block[0] = static_cast<uint16_t>(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i)
            block[1 + i / 2] =
                static_cast<uint16_t>(block[1 + i / 2] | (i % 2 ? bytes[i] : bytes[i] << 8));
        uint16_t status = 0;
        const int rc =
            modbus_write_and_read_registers(ctx_, 256 * port + 390, static_cast<int>(block.size()),
                                            block.data(), 256 * port + 386, 1, &status);
        return rc == 1 ? (status & 0xFF) : -1;
    }
    // Fetches one receive block of n+1 registers; returns the bytes or
    // fails the test.
    std::vector<uint8_t> fetch(int port, int dataRegs = 10) {
        std::vector<uint16_t> regs;
        const int rc = readRegs(256 * port + 262, dataRegs + 1, regs);
        EXPECT_EQ(rc, dataRegs + 1) << modbus_strerror(errno);
        std::vector<uint8_t> out;
        if (rc != dataRegs + 1) return out;
        for (std::size_t i = 0; i < regs[0]; ++i)
            out.push_back(
                static_cast<uint8_t>(i % 2 ? regs[1 + i / 2] & 0xFF : regs[1 + i / 2] >> 8));
        return out;
    }

private:
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
};

inline snsim::Options defaultOptions() { return snsim::Options{}; }

// A running emulator and a client on it.
class SimTest : public ::testing::Test {
protected:
    void startWith(snsim::Options o) {
        emu_ = std::make_unique<snsim::Emulator>(std::move(o));
        ASSERT_TRUE(emu_->start());
        client_ = std::make_unique<Client>(emu_->devicePath());
        ASSERT_TRUE(client_->ok());
    }
    void TearDown() override {
        client_.reset();
        if (emu_) emu_->stop();
    }
    snsim::Emulator& emu() { return *emu_; }
    Client& client() { return *client_; }

    std::unique_ptr<snsim::Emulator> emu_;
    std::unique_ptr<Client> client_;
};

inline std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

template <class Pred>
bool eventually(Pred p, std::chrono::milliseconds limit = 3000ms) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (p()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return p();
}

}  // namespace simtest

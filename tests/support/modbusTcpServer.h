// A Modbus TCP server standing in for the bus daemon: libmodbus's server
// side over a plain register map, on its own thread, recording what every
// request asked for.  It can be stopped and started again on the same port,
// as the daemon is restarted.
#pragma once

#include <modbus.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sntest {

// One request as it arrived (function 0x41, a client's wait on the line,
// too: its milliseconds are the address).  For function 23 the address and quantity are
// those of the write, the read's are kept apart.
struct TcpRequest {
    int unit = 0;
    int function = 0;
    int address = 0;
    int quantity = 0;
    int readAddress = 0;
    int readQuantity = 0;
    std::vector<uint16_t> values;  // registers written (functions 6, 16, 23)
};

class ModbusTcpServer {
public:
    // A numeric address to listen on: "127.0.0.1" or "::1".
    explicit ModbusTcpServer(std::string host = "127.0.0.1");
    ~ModbusTcpServer();
    ModbusTcpServer(const ModbusTcpServer&) = delete;
    ModbusTcpServer& operator=(const ModbusTcpServer&) = delete;

    // Listens and serves; the first start picks a free port, later ones
    // take the same.  False when it cannot listen.
    bool start();
    // Closes the listener and every connection; the register map stays.
    void stop();

    int port() const { return port_; }
    std::string deviceName() const;  // "tcp:HOST:PORT", IPv6 in brackets
    int accepted() const { return accepted_.load(); }

    std::vector<TcpRequest> requests() const;
    void clearRequests();
    // Waits until at least `count` requests have arrived.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

    void setRegister(int address, uint16_t value);
    uint16_t reg(int address) const;
    bool coil(int address) const;

private:
    bool pickFreePort();
    void serve(int listener);
    void answer(int client, std::vector<int>& clients);
    void record(const uint8_t* query, int length);
    int answerClientTimeout(int client, uint8_t* query, int length);
    static constexpr uint8_t kSetClientTimeout = 0x41;

    std::string host_;
    int port_ = 0;
    modbus_t* ctx_ = nullptr;  // the server side; its socket is set per client
    modbus_mapping_t* map_ = nullptr;
    int wake_[2] = {-1, -1};  // written to make the thread stop
    std::thread thread_;
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;  // the map and the requests
    std::vector<TcpRequest> requests_;
};

}  // namespace sntest

// The real snbusd between an emulated node (reached through a link, so it
// can go away and come back) and Modbus TCP clients of the test.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "busDaemonProcess.h"
#include "snsim/emulator.h"

namespace snbusd_test {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// A plain TCP client that speaks Modbus TCP frames byte by byte.
class RawClient {
public:
    explicit RawClient(uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(const Bytes& bytes);
    // One whole answer frame, or nothing when none came in time.
    std::optional<Bytes> receive(std::chrono::milliseconds timeout = 5s);
    // True once the daemon has closed the connection.
    bool closedByDaemon(std::chrono::milliseconds timeout = 5s);
    // Request and answer: the answer's PDU (nothing when none came).
    std::optional<Bytes> ask(uint8_t unit, const Bytes& pdu, uint16_t transaction = 1);

private:
    int fd_ = -1;
};

// A request frame: MBAP header then the PDU.
Bytes frame(uint16_t transaction, uint8_t unit, const Bytes& pdu);
// A PDU of `function` carrying register values: its byte count, then each
// value high byte first (a read's answer, a write-and-read's).
Bytes words(uint8_t function, std::initializer_list<uint16_t> values);

// The resident memory of a process, or -1.
long residentKiB(pid_t pid);

class DaemonTest : public ::testing::Test {
protected:
    // `adjust` changes the node's options (ports, slaves) before it starts.
    explicit DaemonTest(const std::function<void(snsim::Options&)>& adjust = {});
    ~DaemonTest() override;

    void SetUp() override;
    // Starts snbusd on the node's link with these options added; its
    // client port and metrics port are then known.
    void startDaemon(const std::vector<std::string>& extra = {});
    std::string tcpName() const { return daemon.tcpName(); }
    std::string daemonLog() const { return daemon.log(); }
    std::string metricsPage() const;
    // The node's log without the device-timeout writes of opens.
    std::vector<snsim::Transaction> lineTraffic() const;

    std::string dir;
    std::string link;
    snsim::Emulator sim;
    sntest::BusDaemonProcess daemon;
    uint16_t port = 0;
};

// Two nodes told apart by their serial numbers: 1111 at slave 1, 2222 at
// slave 2, read by kReadSerial.
inline const Bytes kReadSerial{3, 0, 15, 0, 1};

class TwoNodeDaemonTest : public DaemonTest {
protected:
    void SetUp() override {
        DaemonTest::SetUp();
        sim.setReg(15, 1111, 1);
        sim.setReg(15, 2222, 2);
    }
};

}  // namespace snbusd_test

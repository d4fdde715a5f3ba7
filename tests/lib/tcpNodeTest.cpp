// Nodes reached through the bus daemon over Modbus TCP: a real TCP server
// stands in for the daemon and records what reached it.
#include "modbusTcpServer.h"
#include "snLib.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sntest::ModbusTcpServer;
using sntest::TcpRequest;

// Only a guard against a hang: every call here is bounded by the link's
// 600 ms response timeout.
constexpr auto kNoHang = 5s;

void expectRequest(const TcpRequest& r, int unit, int function, int address, int quantity) {
    EXPECT_EQ(r.unit, unit);
    EXPECT_EQ(r.function, function);
    EXPECT_EQ(r.address, address);
    EXPECT_EQ(r.quantity, quantity);
}

// A new connection first tells the daemon how long its requests may wait
// on the line (function 0x41, milliseconds in one word).
void expectWaitTold(const TcpRequest& r, int unit, int milliseconds) {
    EXPECT_EQ(r.unit, unit);
    EXPECT_EQ(r.function, 0x41);
    EXPECT_EQ(r.address, milliseconds);
}

class TcpNode : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    void TearDown() override {
        for (SensorNode* n : opened) {
            for (auto& ser : n->serial) {
                while (ser.ctx != nullptr) snCloseSerial(&ser);
            }
            while (n->refCount > 0) closeSensorNode(n);
        }
    }
    SensorNode* open(int slave, const std::string& name, int speed = 115200) {
        SensorNode* n = openSensorNode(name.c_str(), speed, slave);
        if (n != nullptr) opened.push_back(n);
        return n;
    }
    SensorNode* open(int slave) { return open(slave, server.deviceName()); }

    ModbusTcpServer server;
    std::vector<SensorNode*> opened;
};

TEST_F(TcpNode, OpenWritesTheDeviceTimeoutWithTheSlaveAsUnitIdAndIgnoresTheSpeed) {
    // 12345 is no serial speed: a TCP link has none, so it is not checked.
    SensorNode* node = open(7, server.deviceName(), 12345);
    ASSERT_NE(node, nullptr) << "errno " << errno;
    ASSERT_TRUE(server.waitForRequests(2, kNoHang));
    auto got = server.requests();
    ASSERT_EQ(got.size(), 2u);
    expectWaitTold(got[0], 7, 600);
    expectRequest(got[1], 7, 6, 21, 1);
    EXPECT_EQ(got[1].values, std::vector<uint16_t>{200});
    EXPECT_EQ(server.reg(21), 200);
    EXPECT_EQ(std::string(node->portName), "tcp:127.0.0.1:" + std::to_string(server.port()));

    timeval response{}, byte{};
    snModbusGetResponseTimeout(node, &response);
    snModbusGetByteTimeout(node, &byte);
    EXPECT_EQ(response.tv_sec, 0);
    EXPECT_EQ(response.tv_usec, 600000);
    EXPECT_EQ(byte.tv_sec, 0);
    EXPECT_EQ(byte.tv_usec, 50000);

    // Reuse by name and slave, without traffic; another slave is another
    // connection with its own unit id.
    server.clearRequests();
    EXPECT_EQ(open(7), node);
    EXPECT_EQ(node->refCount, 2);
    SensorNode* other = open(8);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, node);
    ASSERT_TRUE(server.waitForRequests(2, kNoHang));
    got = server.requests();
    ASSERT_EQ(got.size(), 2u);
    expectWaitTold(got[0], 8, 600);
    expectRequest(got[1], 8, 6, 21, 1);
    EXPECT_EQ(server.accepted(), 2);

    // A wait set later is told before the next request, and read back as set.
    server.clearRequests();
    const timeval patient{2, 500000};
    snModbusSetResponseTimeout(node, &patient);
    snModbusGetResponseTimeout(node, &response);
    EXPECT_EQ(response.tv_sec, 2);
    EXPECT_EQ(response.tv_usec, 500000);
    uint16_t serial = 0;
    EXPECT_EQ(snGetSerialNum(node, &serial), 0) << "errno " << errno;
    got = server.requests();
    ASSERT_EQ(got.size(), 2u);
    expectWaitTold(got[0], 7, 2500);
    expectRequest(got[1], 7, 3, 15, 1);
}

TEST_F(TcpNode, PowerAnalogAndPortTransfersGoThroughTheConnection) {
    SensorNode* node = open(5);
    ASSERT_NE(node, nullptr) << "errno " << errno;
    server.setRegister(34, 1234);     // analog channel 3
    server.setRegister(642, 240);     // port 1 takes every byte
    server.setRegister(518, 3);       // port 1 received 3 bytes...
    server.setRegister(519, 0x4f4b);  // "OK"
    server.setRegister(520, 0x2100);  // "!"
    ASSERT_TRUE(server.waitForRequests(1, kNoHang));
    server.clearRequests();

    EXPECT_EQ(snPower(node, 2, 1), 0);
    EXPECT_TRUE(server.coil(2));
    EXPECT_EQ(snPowerIsOn(node, 2), 1);
    uint16_t value = 0;
    EXPECT_EQ(snAnalogChan(node, 3, &value), 0);
    EXPECT_EQ(value, 1234);
    SnSerial* ser = snOpenSerial(node, 1);
    ASSERT_NE(ser, nullptr) << "errno " << errno;
    EXPECT_TRUE(server.coil(5));
    EXPECT_EQ(snSerWrite(ser, "hello", 5), 5);
    char buf[3] = {};
    EXPECT_EQ(snSerRead(ser, buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "OK!");

    const auto got = server.requests();
    ASSERT_GE(got.size(), 6u);
    expectRequest(got[0], 5, 5, 2, 1);
    expectRequest(got[1], 5, 1, 2, 1);
    expectRequest(got[2], 5, 3, 34, 1);
    expectRequest(got[3], 5, 5, 5, 1);
    // The transmit block of port 1, and its status register read back.
    expectRequest(got[4], 5, 23, 646, 4);
    EXPECT_EQ(got[4].readAddress, 642);
    EXPECT_EQ(got[4].readQuantity, 1);
    EXPECT_EQ(got[4].values, (std::vector<uint16_t>{5, 0x6865, 0x6c6c, 0x6f00}));
    expectRequest(got[5], 5, 3, 518, 11);
}

TEST(TcpNodeIpv6, BracketedAddressReachesTheServer) {
    ModbusTcpServer server("::1");
    if (!server.start()) GTEST_SKIP() << "no IPv6 loopback on this machine";
    const std::string name = "tcp:[::1]:" + std::to_string(server.port());
    SensorNode* node = openSensorNode(name.c_str(), 115200, 3);
    ASSERT_NE(node, nullptr) << "errno " << errno;
    ASSERT_TRUE(server.waitForRequests(2, kNoHang));
    const auto got = server.requests();
    ASSERT_EQ(got.size(), 2u);
    expectRequest(got[1], 3, 6, 21, 1);
    EXPECT_EQ(closeSensorNode(node), 0);
}

TEST_F(TcpNode, NamesThatAreNotHostAndPortAndBadSlavesAreRefusedWithoutConnecting) {
    const std::string port = std::to_string(server.port());
    const std::vector<std::string> names = {
        "tcp:",
        "tcp:127.0.0.1",
        "tcp:127.0.0.1:",
        "tcp:127.0.0.1:0",
        "tcp:127.0.0.1:65536",
        "tcp::" + port,
        "tcp:::1:" + port,
        "tcp:[::1:" + port,
        "tcp:[::1]" + port,
        "tcp:[]:" + port,
        "tcp:127.0.0.1:15x2",
        "tcp:127.0.0.1:-1",
    };
    for (const std::string& name : names) {
        errno = 0;
        EXPECT_EQ(open(1, name), nullptr) << name;
        EXPECT_EQ(errno, EINVAL) << name;
    }
    for (int slave : {0, 248}) {
        errno = 0;
        EXPECT_EQ(open(slave), nullptr) << slave;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(server.accepted(), 0);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(TcpNode, RefusedConnectionFailsTheOpenAndLeavesTheEntryFree) {
    SensorNode* first = open(1);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(closeSensorNode(first), 0);
    server.stop();

    errno = 0;
    const auto began = Clock::now();
    EXPECT_EQ(open(1), nullptr);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_LT(Clock::now() - began, kNoHang);

    ASSERT_TRUE(server.start());
    EXPECT_EQ(open(1), first) << "the failed open must not have taken the entry";
}

TEST_F(TcpNode, LostConnectionFailsTheCallAndALaterCallReconnects) {
    SensorNode* node = open(9);
    ASSERT_NE(node, nullptr);
    server.setRegister(15, 4242);
    server.setRegister(262, 0);  // port 0 has nothing
    SnSerial* ser = snOpenSerial(node, 0);
    ASSERT_NE(ser, nullptr);
    server.stop();

    uint16_t serial = 0;
    errno = 0;
    auto began = Clock::now();
    EXPECT_EQ(snGetSerialNum(node, &serial), -1);
    EXPECT_TRUE(errno == ECONNRESET || errno == EPIPE) << "errno " << errno;
    EXPECT_LT(Clock::now() - began, kNoHang);
    // Closed now: the next call tries to connect and fails at once.
    errno = 0;
    began = Clock::now();
    EXPECT_EQ(snGetSerialNum(node, &serial), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_LT(Clock::now() - began, kNoHang);

    ASSERT_TRUE(server.start());
    server.clearRequests();
    // A port handle shares the node's link, so it connects again too.
    char buf[4];
    errno = 0;
    EXPECT_EQ(snSerRead(ser, buf, sizeof buf), 0);
    EXPECT_EQ(errno, 0) << "a successful reconnect must not leave an errno behind";
    EXPECT_EQ(snGetSerialNum(node, &serial), 0) << "errno " << errno;
    EXPECT_EQ(serial, 4242);
    const auto got = server.requests();
    ASSERT_EQ(got.size(), 3u);
    expectWaitTold(got[0], 9, 600);
    expectRequest(got[1], 9, 3, 262, 11);
    expectRequest(got[2], 9, 3, 15, 1);
    EXPECT_EQ(server.accepted(), 2);
}

}  // namespace

// Node handles: slave checks, reuse, allocation, the table limit, the
// device timeout register and the link timeouts.
#include "libTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

extern "C" int snlibHeaderCompilesAsC(void);

namespace {

testing::Environment* const libraryEnv = testing::AddGlobalTestEnvironment(new LibraryEnvironment);

class NodeHandles : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.start()); }
    void TearDown() override {
        for (SensorNode* n : opened) {
            while (n->refCount > 0) closeSensorNode(n);
        }
    }
    SensorNode* open(int slave, int speed = 115200) {
        SensorNode* n = openSensorNode(sim.devicePath().c_str(), speed, slave);
        if (n != nullptr) opened.push_back(n);
        return n;
    }
    // Every address the tests open answers, so no open waits for a timeout.
    static snsim::Options manySlaves() {
        snsim::Options options = quietNodeOptions();
        options.slaves.clear();
        for (int slave = 1; slave <= 17; ++slave) options.slaves.push_back(slave);
        options.slaves.push_back(247);
        return options;
    }
    snsim::Emulator sim{manySlaves()};
    std::vector<SensorNode*> opened;
};

TEST(PublicHeader, CompilesAsC) { EXPECT_EQ(snlibHeaderCompilesAsC(), 256); }

// Callers size buffers and check arguments with these: each must be the
// node's real figure.
TEST(PublicHeader, LimitsAreTheNodesOwn) {
    EXPECT_EQ(SN_BLOCK_BYTES, 240);
    EXPECT_EQ(SN_PORTS, 3);
    EXPECT_EQ(SN_ANALOG_CHANNELS, 8);
    EXPECT_EQ(SN_POWER_OUTPUTS, 4);
    EXPECT_EQ(SN_MIN_DEVICE_TIMEOUT, 20);
    EXPECT_EQ(SN_MIN_SLAVE, 1);
    EXPECT_EQ(SN_MAX_SLAVE, 247);
    EXPECT_EQ(SN_MAX_NODES, 16);
    EXPECT_EQ(SN_MAX_PORT_SPEED, 262143);
}

TEST_F(NodeHandles, SlaveAddressesOutsideOneTo247AreRefusedWithoutTraffic) {
    for (int slave : {0, 248, -1}) {
        errno = 0;
        EXPECT_EQ(open(slave), nullptr) << slave;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_TRUE(sim.log().empty());
    EXPECT_NE(open(1), nullptr);
    EXPECT_NE(open(247), nullptr);
}

TEST_F(NodeHandles, MissingDeviceNameAndUnsupportedSpeedAreRefused) {
    errno = 0;
    EXPECT_EQ(openSensorNode(nullptr, 115200, 1), nullptr);
    EXPECT_EQ(errno, EINVAL);
    // libmodbus would silently run these at 9600.
    for (int speed : {0, 12345, -9600, 115201}) {
        errno = 0;
        EXPECT_EQ(open(1, speed), nullptr) << speed;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_TRUE(sim.log().empty());
}

TEST_F(NodeHandles, OpenWritesDeviceTimeout200ToRegister21) {
    ASSERT_NE(open(1), nullptr);
    ASSERT_TRUE(sim.waitForLog(1, std::chrono::seconds(2)));
    const auto log = sim.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRANSACTION(log[0], 6, 21, 1);
    EXPECT_EQ(log[0].values, std::vector<uint16_t>{200});
    EXPECT_EQ(sim.reg(21), 200);
}

TEST_F(NodeHandles, SameNameAndSlaveShareOneEntryAndContext) {
    SensorNode* first = open(1);
    ASSERT_NE(first, nullptr);
    sim.clearLog();
    SensorNode* second = open(1);
    EXPECT_EQ(second, first);
    EXPECT_EQ(first->refCount, 2);
    // Reuse never looks at the speed, not even one no new context could use.
    EXPECT_EQ(open(1, 12345), first);
    EXPECT_EQ(first->refCount, 3);
    EXPECT_TRUE(sim.log().empty()) << "reuse makes no traffic";
    EXPECT_EQ(closeSensorNode(first), 0);

    EXPECT_EQ(closeSensorNode(first), 0);
    EXPECT_NE(first->ctx, nullptr);
    EXPECT_EQ(closeSensorNode(first), 0);
    EXPECT_EQ(first->ctx, nullptr);
    EXPECT_EQ(first->refCount, 0);
}

TEST_F(NodeHandles, OtherSlaveOnSameDeviceTakesNewEntry) {
    SensorNode* a = open(1);
    SensorNode* b = open(2);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_NE(a->ctx, b->ctx);
    EXPECT_EQ(b->slaveId, 2);
}

TEST_F(NodeHandles, SeventeenthNodeFailsAndFreedEntryIsReused) {
    std::vector<SensorNode*> nodes;
    for (int slave = 1; slave <= 16; ++slave) {
        SensorNode* n = open(slave);
        ASSERT_NE(n, nullptr) << slave;
        nodes.push_back(n);
    }
    errno = 0;
    EXPECT_EQ(open(17), nullptr);
    EXPECT_EQ(errno, ENOMEM);

    ASSERT_EQ(closeSensorNode(nodes[4]), 0);
    SensorNode* reused = open(17);
    EXPECT_EQ(reused, nodes[4]);
    EXPECT_EQ(reused->slaveId, 17);
}

TEST_F(NodeHandles, FailedConnectLeavesEntryFree) {
    SensorNode* first = open(1);
    ASSERT_NE(first, nullptr);
    closeSensorNode(first);
    EXPECT_EQ(openSensorNode("/dev/no-such-serial-device", 115200, 1), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(open(1), first) << "the failed open must not have taken the entry";
}

TEST_F(NodeHandles, CloseOfFreeEntryIsRefusedAndCountNeverWraps) {
    SensorNode* n = open(1);
    ASSERT_NE(n, nullptr);
    ASSERT_EQ(closeSensorNode(n), 0);
    errno = 0;
    EXPECT_EQ(closeSensorNode(n), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(n->refCount, 0);
    EXPECT_EQ(closeSensorNode(nullptr), -1);
}

TEST_F(NodeHandles, DeviceTimeoutBelow20IsRefusedWithoutTraffic) {
    SensorNode* n = open(1);
    ASSERT_NE(n, nullptr);
    ASSERT_TRUE(sim.waitForLog(1, std::chrono::seconds(2)));
    sim.clearLog();
    errno = 0;
    EXPECT_EQ(setSensorNodeModbusTimeout(n, 19), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(sim.log().empty());

    EXPECT_EQ(setSensorNodeModbusTimeout(n, 20), 0);
    uint16_t value = 0;
    EXPECT_EQ(getSensorNodeModbusTimeout(n, &value), 0);
    EXPECT_EQ(value, 20);
    const auto log = sim.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRANSACTION(log[0], 6, 21, 1);
    EXPECT_EQ(log[0].values, std::vector<uint16_t>{20});
    EXPECT_TRANSACTION(log[1], 3, 21, 1);
    EXPECT_EQ(getSensorNodeModbusTimeout(n, nullptr), -1);
}

TEST_F(NodeHandles, LinkTimeoutsDefaultAndCanBeChanged) {
    SensorNode* n = open(1);
    ASSERT_NE(n, nullptr);
    timeval tv{};
    snModbusGetResponseTimeout(n, &tv);
    EXPECT_EQ(tv.tv_sec, 0);
    EXPECT_EQ(tv.tv_usec, 600000);
    snModbusGetByteTimeout(n, &tv);
    EXPECT_EQ(tv.tv_usec, 50000);
    const timeval longer{2, 500};
    snModbusSetResponseTimeout(n, &longer);
    snModbusGetResponseTimeout(n, &tv);
    EXPECT_EQ(tv.tv_sec, 2);
    EXPECT_EQ(tv.tv_usec, 500);
    snModbusGetResponseTimeout(n, nullptr);  // a missing destination is allowed
}

TEST_F(NodeHandles, SilentNodeStillOpensAndFirstTransactionTimesOut) {
    sim.setFault(snsim::Fault::NoAnswer);
    SensorNode* n = open(1);
    ASSERT_NE(n, nullptr);
    uint16_t value = 0;
    errno = 0;
    EXPECT_EQ(getSensorNodeModbusTimeout(n, &value), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    sim.setFault(snsim::Fault::None);
    EXPECT_EQ(getSensorNodeModbusTimeout(n, &value), 0) << "works again once the node is back";
}

TEST_F(NodeHandles, ClosingTheNodeClosesItsPortsSoTheFreedLinkIsNeverUsed) {
    SensorNode* n = open(1);
    ASSERT_NE(n, nullptr);
    SnSerial* ser = snOpenSerial(n, 1);
    ASSERT_NE(ser, nullptr);
    ASSERT_EQ(closeSensorNode(n), 0);
    EXPECT_EQ(ser->ctx, nullptr);
    sim.clearLog();
    const char byte = 'x';
    errno = 0;
    EXPECT_EQ(snSerWrite(ser, &byte, 1), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(snSerInit(ser, 9600, 'N', 1), -1);
    EXPECT_EQ(snCloseSerial(ser), -1);
    EXPECT_EQ(snOpenSerial(n, 1), nullptr) << "a closed node has no link for its ports";
    EXPECT_TRUE(sim.log().empty());
}

// A name longer than the 256-character field: stored, compared and printed
// without reading past the field.
TEST_F(NodeHandles, DeviceNamesLongerThanTheFieldAreHandledSafely) {
    std::string dir = "/tmp/snlib-long-name-" + std::to_string(getpid());
    std::string path = dir;
    mkdir(dir.c_str(), 0700);
    while (path.size() < 280) {
        path += "/" + std::string(60, 'd');
        mkdir(path.c_str(), 0700);
    }
    const std::string link = path + "/node";
    ASSERT_EQ(symlink(sim.devicePath().c_str(), link.c_str()), 0);

    SensorNode* n = openSensorNode(link.c_str(), 115200, 1);
    ASSERT_NE(n, nullptr) << errno;
    opened.push_back(n);
    EXPECT_EQ(std::string(n->portName, 256), link.substr(0, 256));
    EXPECT_EQ(openSensorNode(link.c_str(), 115200, 1), n);

    testing::internal::CaptureStdout();
    snSetDebug(1);
    closeSensorNode(n);
    snSetDebug(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "closeSensorNode(" + link.substr(0, 256) + "[1])\n");
    unlink(link.c_str());
    std::filesystem::remove_all(dir);
}

}  // namespace

// Virtual port open/close with transmit enable, and line settings.
#include "libTestSupport.h"

namespace {

using PortOpenClose = NodeTest;

TEST_F(PortOpenClose, PortThreeAndNullNodeAreRefusedBeforeAnyTraffic) {
    errno = 0;
    EXPECT_EQ(snOpenSerial(node, 3), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(snOpenSerial(nullptr, 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(transactions().empty());
    EXPECT_EQ(node->serial[0].refCount, 0);
}

TEST_F(PortOpenClose, TransmitEnableFollowsTheOpenCount) {
    SnSerial* first = snOpenSerial(node, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, &node->serial[1]);
    EXPECT_TRUE(sim.coil(5));
    EXPECT_EQ(snOpenSerial(node, 1), first);
    EXPECT_EQ(first->refCount, 2);

    EXPECT_EQ(snCloseSerial(first), 0);
    EXPECT_TRUE(sim.coil(5)) << "one open is still outstanding";
    EXPECT_EQ(snCloseSerial(first), 0);
    EXPECT_FALSE(sim.coil(5));
    EXPECT_EQ(first->ctx, nullptr);
    EXPECT_EQ(snCloseSerial(first), -1) << "closed port";

    const auto log = transactions();
    ASSERT_EQ(log.size(), 3u);
    for (const auto& t : log) EXPECT_TRANSACTION(t, 5, 5, 1);
    EXPECT_EQ(log[0].values, std::vector<uint16_t>{1});
    EXPECT_EQ(log[2].values, std::vector<uint16_t>{0});
}

TEST_F(PortOpenClose, SecondOpenKeepsBufferedBytesFirstOpenResetsThem) {
    SnSerial* ser = snOpenSerial(node, 0);
    ASSERT_NE(ser, nullptr);
    sim.feedPort(0, {'a', 'b', 'c', 'd'});
    char byte = 0;
    ASSERT_EQ(snSerRead(ser, &byte, 1), 1);
    EXPECT_EQ(snSerRxCount(ser), 3);
    ASSERT_EQ(snOpenSerial(node, 0), ser);
    EXPECT_EQ(snSerRxCount(ser), 3);
    snCloseSerial(ser);
    snCloseSerial(ser);
    ASSERT_EQ(snOpenSerial(node, 0), ser);
    EXPECT_EQ(snSerRxCount(ser), 0);
    EXPECT_EQ(ser->rxIndex, 2);
}

TEST_F(PortOpenClose, RefusedTransmitEnableUndoesTheOpen) {
    useShortResponseTimeout();
    sim.setFault(snsim::Fault::Exception);
    errno = 0;
    EXPECT_EQ(snOpenSerial(node, 2), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(node->serial[2].refCount, 0);
    EXPECT_EQ(node->serial[2].ctx, nullptr);
    const auto log = transactions();
    ASSERT_EQ(log.size(), 2u) << "coil on, then the undoing close's coil off";
    EXPECT_TRANSACTION(log[0], 5, 6, 1);
    EXPECT_TRANSACTION(log[1], 5, 6, 1);
    EXPECT_EQ(log[1].values, std::vector<uint16_t>{0});
}

TEST_F(PortOpenClose, ManualTransmitEnable) {
    SnSerial* ser = snOpenSerial(node, 2);
    ASSERT_NE(ser, nullptr);
    EXPECT_EQ(snSerSetTxEnbl(ser, 0), 0);
    EXPECT_FALSE(sim.coil(6));
    EXPECT_EQ(snSerSetTxEnbl(ser, -7), 0);
    EXPECT_TRUE(sim.coil(6));
    EXPECT_EQ(snSerSetTxEnbl(nullptr, 1), -1);
}

using LineSettings = NodeTest;

TEST_F(LineSettings, SpeedQuarterAndFrameFormatGoOutInOneTransaction) {
    SnSerial* ser = snOpenSerial(node, 1);
    ASSERT_NE(ser, nullptr);
    sim.clearLog();
    EXPECT_EQ(snSerInit(ser, 9600, 'N', 1), 0);
    EXPECT_EQ(snSerInit(ser, 19200, 'o', 2), 0);
    EXPECT_EQ(snSerInit(ser, 4800, 'E', 1), 0);
    EXPECT_EQ(snSerInit(ser, 4800, 'x', 3), 0) << "unknown letters mean none, 1 stop bit";
    // 400000 / 4 = 100000 does not fit 16 bits: the upper bits are cut.
    EXPECT_EQ(snSerInit(ser, 400000, 'e', 2), 0);

    const auto log = transactions();
    ASSERT_EQ(log.size(), 5u);
    for (const auto& t : log) EXPECT_TRANSACTION(t, 16, 511, 2);
    EXPECT_EQ(log[0].values, (std::vector<uint16_t>{2400, 8}));
    EXPECT_EQ(log[1].values, (std::vector<uint16_t>{4800, 13}));
    EXPECT_EQ(log[2].values, (std::vector<uint16_t>{1200, 10}));
    EXPECT_EQ(log[3].values, (std::vector<uint16_t>{1200, 8}));
    EXPECT_EQ(log[4].values, (std::vector<uint16_t>{100000 & 0xFFFF, 11}));
    EXPECT_EQ(sim.reg(511), 100000 & 0xFFFF);
    EXPECT_EQ(sim.reg(512), 11);
}

TEST_F(LineSettings, PortBlocksDoNotOverlap) {
    SnSerial* p0 = snOpenSerial(node, 0);
    SnSerial* p2 = snOpenSerial(node, 2);
    ASSERT_NE(p0, nullptr);
    ASSERT_NE(p2, nullptr);
    sim.clearLog();
    EXPECT_EQ(snSerInit(p0, 1200, 'N', 1), 0);
    EXPECT_EQ(snSerInit(p2, 1200, 'N', 1), 0);
    const auto log = transactions();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].address, 255);
    EXPECT_EQ(log[1].address, 767);
}

TEST_F(LineSettings, FailedWriteLeavesPortOpen) {
    SnSerial* ser = snOpenSerial(node, 1);
    ASSERT_NE(ser, nullptr);
    useShortResponseTimeout();
    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_EQ(snSerInit(ser, 9600, 'N', 1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    sim.setFault(snsim::Fault::None);
    EXPECT_NE(ser->ctx, nullptr);
    EXPECT_EQ(snSerInit(ser, 9600, 'N', 1), 0);
}

}  // namespace

// Reading and writing bytes through a virtual port.
#include "libTestSupport.h"

#include <numeric>
#include <random>

namespace {

class PortTransfer : public NodeTest {
protected:
    void SetUp() override {
        NodeTest::SetUp();
        ser = snOpenSerial(node, 1);
        ASSERT_NE(ser, nullptr);
        // Fast enough that the node's transmit FIFO is never the limit here.
        ASSERT_EQ(snSerInit(ser, 230400, 'N', 1), 0);
        sim.clearLog();
    }
    SnSerial* ser = nullptr;
};

std::vector<uint8_t> sequence(size_t n) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

std::vector<uint8_t> takeAll(snsim::Emulator& sim, int port, size_t expected) {
    std::vector<uint8_t> out;
    for (int i = 0; i < 200 && out.size() < expected; ++i) {
        auto more = sim.takePortOutput(port);
        out.insert(out.end(), more.begin(), more.end());
        if (out.size() < expected) usleep(10000);
    }
    return out;
}

using PortRead = PortTransfer;

TEST_F(PortRead, CountZeroMakesNoTraffic) {
    char buf[4];
    EXPECT_EQ(snSerRead(ser, buf, 0), 0);
    EXPECT_TRUE(transactions().empty());
}

TEST_F(PortRead, SmallReadFetchesElevenRegistersAndBuffersTheRest) {
    sim.feedPort(1, {'1', '2', '3', '4', '5', '6', '7'});
    char buf[32] = {};
    ASSERT_EQ(snSerRead(ser, buf, 1), 1);
    EXPECT_EQ(buf[0], '1');
    EXPECT_EQ(snSerRxCount(ser), 6);
    auto log = transactions();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRANSACTION(log[0], 3, 518, 11);

    ASSERT_EQ(snSerRead(ser, buf, 20), 6);
    EXPECT_EQ(std::string(buf, 6), "234567");
    log = transactions();
    ASSERT_EQ(log.size(), 2u) << "buffered bytes first, then one fetch finding nothing";
    EXPECT_TRANSACTION(log[1], 3, 518, 11);
    EXPECT_EQ(snSerRxCount(ser), 0);
}

TEST_F(PortRead, LargeReadFetchesFullBlocksAndKeepsOrder) {
    const auto data = sequence(300);
    sim.feedPort(1, data);
    std::vector<uint8_t> buf(300);
    ASSERT_EQ(snSerRead(ser, buf.data(), 300), 300);
    EXPECT_EQ(buf, data);
    const auto log = transactions();
    ASSERT_EQ(log.size(), 2u);
    for (const auto& t : log) EXPECT_TRANSACTION(t, 3, 518, 121);
}

TEST_F(PortRead, BytesAreHandedOutOnceAllValuesIntact) {
    const auto data = sequence(256);
    sim.feedPort(1, data);
    std::vector<uint8_t> got;
    uint8_t buf[20];
    for (int pass = 0; pass < 100; ++pass) {
        const int n = snSerRead(ser, buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
        if (n == 0) break;
    }
    EXPECT_EQ(got, data);
}

TEST_F(PortRead, FailedFetchEndsTheReadWithWhatWasDelivered) {
    sim.feedPort(1, {'a', 'b', 'c'});
    char buf[8];
    ASSERT_EQ(snSerRead(ser, buf, 1), 1);
    useShortResponseTimeout();
    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_EQ(snSerRead(ser, buf, 8), 2) << "the two buffered bytes, then the failed fetch";
    EXPECT_EQ(snSerRxCount(ser), 0);
    EXPECT_EQ(snSerRead(ser, buf, 8), 0);
    sim.setFault(snsim::Fault::None);
}

TEST_F(PortRead, RefusesNullAndClosedHandles) {
    char buf[4];
    errno = 0;
    EXPECT_EQ(snSerRead(nullptr, buf, 4), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(snSerRead(ser, nullptr, 4), 0);
    EXPECT_EQ(snSerRxCount(nullptr), 0);
    EXPECT_TRUE(transactions().empty());
}

using PortWrite = PortTransfer;

TEST_F(PortWrite, FiveHundredBytesGoAsThreeChunks) {
    const auto data = sequence(500);
    ASSERT_EQ(snSerWrite(ser, data.data(), 500), 500);
    const auto log = transactions();
    ASSERT_EQ(log.size(), 3u);
    const int counts[] = {240, 240, 20};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRANSACTION(log[i], 23, 646, 1 + (counts[i] + 1) / 2);
        EXPECT_EQ(log[i].readAddress, 642);
        EXPECT_EQ(log[i].readQuantity, 1);
        EXPECT_EQ(log[i].values.at(0), counts[i]);
    }
    EXPECT_EQ(takeAll(sim, 1, 500), data);
}

TEST_F(PortWrite, OddLengthPacksLastByteInHighHalf) {
    const uint8_t data[] = {0x12, 0x34, 0x56};
    ASSERT_EQ(snSerWrite(ser, data, 3), 3);
    const auto log = transactions();
    ASSERT_EQ(log.size(), 1u);
    ASSERT_EQ(log[0].values.size(), 3u);
    EXPECT_EQ(log[0].values[0], 3);
    EXPECT_EQ(log[0].values[1], 0x1234);
    EXPECT_EQ(log[0].values[2] >> 8, 0x56);
}

TEST_F(PortWrite, PartialAcceptanceResumesAtFirstByteNotTaken) {
    sim.setAcceptLimit(1, 100);
    const auto data = sequence(240);
    ASSERT_EQ(snSerWrite(ser, data.data(), 240), 240);
    const auto log = transactions();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].values.at(0), 240);
    EXPECT_EQ(log[1].values.at(0), 140);
    EXPECT_EQ(log[1].values.at(1), (100 << 8) | 101);
    EXPECT_EQ(log[2].values.at(0), 40);
    // Each partial chunk is followed by the 50 ms pause.
    EXPECT_GE(log[1].when - log[0].when, std::chrono::milliseconds(45));
    EXPECT_EQ(takeAll(sim, 1, 240), data);
}

TEST_F(PortWrite, NodeTakingNothingEndsAfterElevenChunks) {
    sim.setAcceptLimit(1, 0);
    const auto data = sequence(10);
    EXPECT_EQ(snSerWrite(ser, data.data(), 10), 0);
    EXPECT_EQ(transactions().size(), 11u);
}

TEST_F(PortWrite, TransmitDisabledTakesNothing) {
    ASSERT_EQ(snSerSetTxEnbl(ser, 0), 0);
    sim.clearLog();
    const uint8_t byte = 1;
    EXPECT_EQ(snSerWrite(ser, &byte, 1), 0);
    EXPECT_EQ(transactions().size(), 11u);
}

TEST_F(PortWrite, FailedTransactionReturnsWhatWasSent) {
    useShortResponseTimeout();
    sim.setFault(snsim::Fault::NoAnswer);
    const auto data = sequence(100);
    errno = 0;
    EXPECT_EQ(snSerWrite(ser, data.data(), 100), 0);
    EXPECT_EQ(errno, ETIMEDOUT);
    // The write, then a probe of another shape that found the node silent.
    const auto log = transactions();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].function, 23);
    EXPECT_NE(log[1].function, 23);
    sim.setFault(snsim::Fault::None);
}

// Random data of odd and even lengths against random acceptance limits:
// every byte reaches the instrument side once, in order.
TEST_F(PortWrite, RandomDataWithRandomAcceptanceArrivesExactlyOnce) {
    std::mt19937 rng(12345);
    std::vector<uint8_t> expected;
    for (int round = 0; round < 12; ++round) {
        std::vector<uint8_t> data(1 + rng() % 600);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        sim.setAcceptLimit(1, static_cast<int>(1 + rng() % 240));
        ASSERT_EQ(snSerWrite(ser, data.data(), static_cast<uint32_t>(data.size())),
                  static_cast<int>(data.size()));
        expected.insert(expected.end(), data.begin(), data.end());
    }
    EXPECT_EQ(takeAll(sim, 1, expected.size()), expected);
}

TEST_F(PortWrite, RefusesNullAndClosedHandles) {
    const char byte = 0;
    errno = 0;
    EXPECT_EQ(snSerWrite(nullptr, &byte, 1), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(snSerWrite(ser, nullptr, 1), 0);
    EXPECT_EQ(snSerWrite(&node->serial[2], &byte, 1), 0) << "port 2 is not open";
    EXPECT_TRUE(transactions().empty());
}

}  // namespace

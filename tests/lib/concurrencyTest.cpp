// Several threads on different ports and nodes through one emulated line:
// every transaction well-formed, every byte to the right port, no deadlock.
#include "libTestSupport.h"

#include <atomic>
#include <random>
#include <thread>

namespace {

testing::Environment* const libraryEnv = testing::AddGlobalTestEnvironment(new LibraryEnvironment);

constexpr int kThreads = 4;
constexpr int kRounds = 125;  // 4 transactions a round: 500 per thread

struct Lane {
    int slave;
    uint16_t port;
    std::vector<uint8_t> written;
    std::vector<uint8_t> fed;
    std::vector<uint8_t> read;
    int failures = 0;
};

snsim::Options twoNodeOptions() {
    snsim::Options options = quietNodeOptions();
    options.slaves = {1, 2};
    options.txFifoSize = 1 << 20;  // the node's FIFO never limits here
    options.rxFifoSize = 1 << 20;
    return options;
}

// One thread's work: writes, feeds and reads its own port, and touches its
// node's other functions in between.
void runLane(snsim::Emulator& sim, SensorNode* node, Lane& lane, unsigned seed) {
    std::mt19937 rng(seed);
    SnSerial* ser = snOpenSerial(node, lane.port);
    if (ser == nullptr || snSerInit(ser, 230400, 'N', 1) != 0) {
        ++lane.failures;
        return;
    }
    for (int round = 0; round < kRounds; ++round) {
        std::vector<uint8_t> out(1 + rng() % 240);
        for (auto& b : out) b = static_cast<uint8_t>(rng());
        if (snSerWrite(ser, out.data(), static_cast<uint32_t>(out.size())) !=
            static_cast<int>(out.size())) {
            ++lane.failures;
        }
        lane.written.insert(lane.written.end(), out.begin(), out.end());

        std::vector<uint8_t> in(1 + rng() % 20);
        for (auto& b : in) b = static_cast<uint8_t>(rng());
        sim.feedPort(lane.port, in, lane.slave);
        lane.fed.insert(lane.fed.end(), in.begin(), in.end());
        uint8_t buf[64];
        const int n = snSerRead(ser, buf, static_cast<uint32_t>(in.size()));
        lane.read.insert(lane.read.end(), buf, buf + n);

        uint16_t word = 0;
        if (snGetSerialNum(node, &word) != 0) ++lane.failures;
        if (snPower(node, static_cast<uint16_t>(lane.port), static_cast<int16_t>(round % 2)) != 0)
            ++lane.failures;
    }
    // Bytes still buffered or at the node are collected before the close.
    uint8_t rest[240];
    for (int n; (n = snSerRead(ser, rest, sizeof rest)) > 0;) {
        lane.read.insert(lane.read.end(), rest, rest + n);
    }
    snCloseSerial(ser);
}

TEST(Concurrency, FourThreadsOnDifferentPortsAndNodesKeepTheirBytesApart) {
    snsim::Emulator sim(twoNodeOptions());
    ASSERT_TRUE(sim.start());
    SensorNode* node1 = openSensorNode(sim.devicePath().c_str(), 115200, 1);
    SensorNode* node2 = openSensorNode(sim.devicePath().c_str(), 115200, 2);
    ASSERT_NE(node1, nullptr);
    ASSERT_NE(node2, nullptr);
    sim.clearLog();

    Lane lanes[kThreads] = {
        {1, 0, {}, {}, {}}, {1, 1, {}, {}, {}}, {1, 2, {}, {}, {}}, {2, 0, {}, {}, {}}};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        SensorNode* node = lanes[i].slave == 1 ? node1 : node2;
        threads.emplace_back(runLane, std::ref(sim), node, std::ref(lanes[i]), 100u + unsigned(i));
    }
    for (auto& t : threads) t.join();

    for (const Lane& lane : lanes) {
        SCOPED_TRACE("slave " + std::to_string(lane.slave) + " port " + std::to_string(lane.port));
        EXPECT_EQ(lane.failures, 0);
        EXPECT_EQ(lane.read, lane.fed);
        std::vector<uint8_t> sent;
        for (int i = 0; i < 300 && sent.size() < lane.written.size(); ++i) {
            auto more = sim.takePortOutput(lane.port, lane.slave);
            sent.insert(sent.end(), more.begin(), more.end());
            if (sent.size() < lane.written.size()) usleep(10000);
        }
        EXPECT_EQ(sent, lane.written);
    }
    for (const auto& t : sim.log()) {
        EXPECT_TRUE(t.answered) << "function " << t.function << " at " << t.address;
        EXPECT_TRUE(t.slave == 1 || t.slave == 2);
    }
    EXPECT_GE(sim.log().size(), size_t(kThreads) * kRounds * 4);
    closeSensorNode(node1);
    closeSensorNode(node2);
}

}  // namespace

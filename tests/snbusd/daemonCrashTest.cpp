// Crashes and restarts around the shared bus: the daemon killed in the
// middle of traffic and started again on its port, the emulator killed and
// started again on its link, the device pulled in the middle of a write.
#include <snLib.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>

#include "daemonFixture.h"
#include "simProcess.h"

namespace snbusd_test {

namespace {

using Clock = std::chrono::steady_clock;

class Crashes : public DaemonTest {
protected:
    static void SetUpTestSuite() { initSensorNodeLib(); }
};

// The library's caller sees the loss as failed calls, never a hang, and a
// later call works once a new daemon listens on the same port.
TEST_F(Crashes, DaemonKilledMidTrafficAndRestartedOnItsPort) {
    startDaemon();
    SensorNode* node = openSensorNode(tcpName().c_str(), 115200, 1);
    ASSERT_NE(node, nullptr);
    std::atomic<bool> done{false};
    std::atomic<long> ok{0}, failed{0};
    std::thread reader([&] {
        while (!done) {
            uint16_t value = 0;
            (snGetSerialNum(node, &value) == 0 ? ok : failed)++;
        }
    });
    std::this_thread::sleep_for(300ms);
    daemon.signal(SIGKILL);
    daemon.wait(5s);
    std::this_thread::sleep_for(300ms);
    const long failedWhileGone = failed.load();
    sntest::BusDaemonProcess again;
    ASSERT_TRUE(again.start(SNBUSD_PATH, link,
                            {"--timeout", "300", "--listen", "127.0.0.1:" + std::to_string(port)}))
        << again.log();
    EXPECT_EQ(again.port(), port) << "on the port the killed one held";
    const long okBefore = ok.load();
    for (auto until = Clock::now() + 10s; ok.load() == okBefore && Clock::now() < until;)
        std::this_thread::sleep_for(10ms);
    done = true;
    reader.join();
    EXPECT_GT(failedWhileGone, 0) << "calls failed while no daemon listened";
    EXPECT_GT(ok.load(), okBefore) << "and worked again through the new one";
    closeSensorNode(node);
    again.signal(SIGTERM);
    EXPECT_EQ(again.wait(10s).status, 0);
}

// An emulator killed with -9 in the middle of a caller's traffic leaves its
// link; the caller's calls fail instead of hanging, and the next emulator
// takes the link over and answers.
TEST(EmulatorCrash, KilledEmulatorsLinkIsTakenOverByTheNextOne) {
    initSensorNodeLib();
    const std::string link = "/tmp/snbusd-crash-test-" + std::to_string(getpid());
    sntest::SimProcess first;
    ASSERT_TRUE(first.start(SNSIM_PATH, {"--link", link}, 5s));
    SensorNode* node = openSensorNode(link.c_str(), 115200, 1);
    ASSERT_NE(node, nullptr);
    std::atomic<long> ok{0}, failed{0};
    std::thread caller([&] {
        for (auto until = Clock::now() + 10s; failed.load() < 3 && Clock::now() < until;) {
            uint16_t value = 0;
            (snGetSerialNum(node, &value) == 0 ? ok : failed)++;
        }
    });
    for (auto until = Clock::now() + 5s; ok.load() < 5 && Clock::now() < until;)
        std::this_thread::sleep_for(5ms);
    first.signal(SIGKILL);
    first.wait(5s);
    caller.join();
    closeSensorNode(node);
    EXPECT_GE(ok.load(), 5);
    EXPECT_GE(failed.load(), 3) << "calls after the kill fail, within the loop's 10 s";
    ASSERT_TRUE(std::filesystem::is_symlink(std::filesystem::symlink_status(link)));
    sntest::SimProcess second;
    ASSERT_TRUE(second.start(SNSIM_PATH, {"--link", link}, 5s)) << second.output();
    EXPECT_EQ(second.device(), link);
    node = openSensorNode(link.c_str(), 115200, 1);
    ASSERT_NE(node, nullptr);
    uint16_t serial = 0;
    EXPECT_EQ(snGetSerialNum(node, &serial), 0) << "the new emulator answers on the link";
    closeSensorNode(node);
    EXPECT_TRUE(second.stop(5s));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

// Pulled in the middle of a long write through the daemon: the daemon
// answers 0x0A, and the count the library reports is exactly what the node
// took, no byte more.
TEST_F(Crashes, DevicePulledMidWriteReportsExactlyWhatTheNodeTook) {
    startDaemon();
    sim.setAcceptLimit(0, 60);  // many transactions, each taking part of a chunk
    SensorNode* node = openSensorNode(tcpName().c_str(), 115200, 1);
    ASSERT_NE(node, nullptr);
    SnSerial* serial = snOpenSerial(node, 0);
    ASSERT_NE(serial, nullptr);
    std::vector<uint8_t> data(8000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    std::thread puller([&] {
        for (auto until = Clock::now() + 20s; lineTraffic().size() < 12 && Clock::now() < until;)
            std::this_thread::sleep_for(1ms);
        sim.stop();
    });
    const int sent = snSerWrite(serial, data.data(), static_cast<uint32_t>(data.size()));
    puller.join();
    // What reached the node: on its line already, or still in its buffer
    // (counted in one look: the line goes on moving bytes from one to the
    // other, and two looks a moment apart miss the byte moved between).
    const auto accepted = sim.takeAcceptedBytes(0);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(data.size()));
    EXPECT_EQ(static_cast<std::size_t>(sent), accepted.size());
    EXPECT_TRUE(std::equal(accepted.begin(), accepted.end(), data.begin()))
        << "in order, from the start";
    EXPECT_NE(daemonLog().find("lost"), std::string::npos) << daemonLog();
    closeSensorNode(node);
}

}  // namespace

}  // namespace snbusd_test

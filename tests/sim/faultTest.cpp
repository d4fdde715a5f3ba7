// Fault switches, unplugging, line timing and shutdown.
#include "simClient.h"

#include <fcntl.h>
#include <unistd.h>

using namespace simtest;
using snsim::Fault;

class FaultTest : public SimTest {
protected:
    void SetUp() override { startWith(defaultOptions()); }
    // The line is usable again once the fault is cleared.
    void expectRecovers() {
        emu().setFault(Fault::None);
        client().timeout(600ms);
        EXPECT_EQ(client().readReg(21), emu().reg(21));
    }
};

TEST_F(FaultTest, NoAnswerLogsButNeitherAnswersNorApplies) {
    const int before = emu().reg(21);
    emu().setFault(Fault::NoAnswer);
    client().timeout(150ms);
    emu().clearLog();
    EXPECT_EQ(client().writeReg(21, 777), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    ASSERT_TRUE(emu().waitForLog(1, 1s));
    EXPECT_FALSE(emu().log()[0].answered);
    EXPECT_EQ(emu().log()[0].values, std::vector<uint16_t>{777});
    EXPECT_EQ(emu().reg(21), before);
    expectRecovers();
}

TEST_F(FaultTest, ExceptionAnswersWithTheGivenCode) {
    emu().setFault(Fault::Exception, {}, 4);
    EXPECT_EQ(client().readReg(15), -1);
    EXPECT_EQ(errno, EMBXSFAIL);
    emu().setFault(Fault::Exception, {}, 6);
    EXPECT_EQ(client().writeReg(21, 300), -1);
    EXPECT_EQ(errno, EMBXSBUSY);
    EXPECT_NE(emu().reg(21), 300);
    EXPECT_TRUE(emu().log().back().answered);
    emu().setFault(Fault::Exception, {}, 0x0C);  // beyond libmodbus's list: still an exception
    EXPECT_EQ(client().readReg(15), -1);
    EXPECT_EQ(errno, EMBBADEXC);  // the client names codes it does not know so
    expectRecovers();
}

TEST_F(FaultTest, DelayPostponesTheAnswer) {
    emu().setFault(Fault::Delay, 200ms);
    client().timeout(1000ms);
    auto t0 = Clock::now();
    EXPECT_GE(client().readReg(15), 0);
    EXPECT_GE(Clock::now() - t0, 190ms);
    // A master that gives up first: its next request is still served
    // cleanly once the delay is gone.
    client().timeout(80ms);
    EXPECT_EQ(client().readReg(15), -1);
    expectRecovers();
}

TEST_F(FaultTest, CorruptedAnswersAreRejectedByTheMaster) {
    client().timeout(200ms);
    emu().setFault(Fault::BadCrc);
    EXPECT_EQ(client().readReg(15), -1);
    EXPECT_EQ(errno, EMBBADCRC);
    expectRecovers();

    client().timeout(200ms);
    emu().setFault(Fault::WrongSlave);
    EXPECT_EQ(client().readReg(15), -1);
    expectRecovers();

    client().timeout(200ms);
    emu().setFault(Fault::ShortFrame);
    EXPECT_EQ(client().readReg(15), -1);
    expectRecovers();

    // These faults spoil the answer only: the write itself happened.
    emu().setFault(Fault::BadCrc);
    client().timeout(200ms);
    EXPECT_EQ(client().writeReg(21, 432), -1);
    EXPECT_EQ(emu().reg(21), 432);
    expectRecovers();
}

TEST_F(FaultTest, UnplugGivesTheClientAnError) {
    ASSERT_GE(client().readReg(15), 0);
    emu().unplug();
    client().timeout(200ms);
    EXPECT_EQ(client().readReg(15), -1);
    const int fd = open(emu().devicePath().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_LT(fd, 0);
    if (fd >= 0) close(fd);
    emu().stop();
    emu().stop();  // idempotent
}

namespace {
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
}  // namespace

TEST_F(FaultTest, LineTimingAnswersAfterTheFrameTimes) {
    ASSERT_EQ(client().writeCoil(4, true), 1);
    ASSERT_EQ(client().writeReg(255, 115200 / 4), 1);
    emu().setLineTiming(true, 9600);
    client().timeout(2000ms);
    // Write of 240 bytes: 255-char request + 7-char answer + 2 x 3.5 silences.
    const double expectWrite = 269 * 10 / 9600.0;
    auto t0 = Clock::now();
    ASSERT_EQ(client().send(0, std::vector<uint8_t>(240, 'x')), 240);
    const double w = seconds(Clock::now() - t0);
    EXPECT_GE(w, 0.9 * expectWrite);
    EXPECT_LT(w, 3 * expectWrite);
    // Fetch of 11 registers: 8-char request + 27-char answer + 7.
    const double expectRead = 42 * 10 / 9600.0;
    t0 = Clock::now();
    (void)client().fetch(0, 10);
    const double r = seconds(Clock::now() - t0);
    EXPECT_GE(r, 0.9 * expectRead);
    EXPECT_LT(r, 3 * expectRead);
    // Off again: fast.
    emu().setLineTiming(false, 9600);
    t0 = Clock::now();
    ASSERT_GE(client().readReg(15), 0);
    EXPECT_LT(seconds(Clock::now() - t0), expectRead);
}

TEST(Lifecycle, StopNeverHangsEvenMidRequest) {
    for (Fault f : {Fault::None, Fault::Delay, Fault::NoAnswer}) {
        auto emu = std::make_unique<snsim::Emulator>();
        ASSERT_TRUE(emu->start());
        emu->setFault(f, 5000ms);
        Client c(emu->devicePath());
        c.timeout(3000ms);
        std::thread t([&] { (void)c.readReg(15); });
        ASSERT_TRUE(emu->waitForLog(1, 2s));
        const auto t0 = Clock::now();
        emu->stop();
        EXPECT_LT(Clock::now() - t0, 1s);
        t.join();
        emu.reset();  // destructor after stop
    }
    // Destructor alone stops it; start twice is harmless.
    snsim::Emulator e;
    ASSERT_TRUE(e.start());
    ASSERT_TRUE(e.start());
}

TEST(Lifecycle, BadOptionsFailToStart) {
    snsim::Options o;
    o.slaves = {0};
    snsim::Emulator e(o);
    EXPECT_FALSE(e.start());
    o.slaves = {1, 1};
    snsim::Emulator e2(o);
    EXPECT_FALSE(e2.start());
}

TEST(Lifecycle, LinkPointsAtTheDeviceWhileRunning) {
    snsim::Options o;
    o.linkPath = "/tmp/snsim-test-link-" + std::to_string(getpid());
    snsim::Emulator e(o);
    ASSERT_TRUE(e.start());
    Client c(o.linkPath);
    ASSERT_TRUE(c.ok());
    EXPECT_GE(c.readReg(15), 0);
    e.stop();
    EXPECT_NE(access(o.linkPath.c_str(), F_OK), 0);
}

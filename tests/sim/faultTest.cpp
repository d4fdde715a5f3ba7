// Fault switches, unplugging, line timing and shutdown.
#include "simClient.h"

#include <fcntl.h>
#include <unistd.h>

using namespace simtest;
using snsim::Fault;

class FaultTest : public SimTest {
protected:
    static constexpr auto kAnswered = 3000ms;
    void SetUp() override { startWith(defaultOptions()); }
    // The line is usable again once the fault is cleared.  Answers that
    // come are awaited generously: a loaded machine must not turn them into
    // timeouts.
    void expectRecovers() {
        emu().setFault(Fault::None);
        client().timeout(kAnswered);
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
    emu().setFault(Fault::Delay, 1000ms);
    client().timeout(kAnswered);
    auto t0 = Clock::now();
    EXPECT_GE(client().readReg(15), 0);
    EXPECT_GE(Clock::now() - t0, 1000ms);
}

// A busy node finishes its late answer whatever the master does meanwhile,
// then answers what came in the meantime, in order: a plain master that
// gave up takes the late answer for its next request's.
TEST_F(FaultTest, ALateAnswerComesEvenAfterTheMasterMovedOn) {
    emu().setReg(15, 4321);
    emu().setFault(Fault::Delay, 400ms);
    client().timeout(80ms);
    EXPECT_EQ(client().readReg(15), -1);
    emu().setFault(Fault::None);
    client().timeout(kAnswered);
    EXPECT_EQ(client().readReg(21), 4321) << "the answer to the earlier request";
    EXPECT_EQ(client().readReg(21), emu().reg(21)) << "and then the node is in step";
}

// Faults drawn for the ports' data alone: every transmit and receive block
// answers late, everything else (the same functions at other registers
// too) on time and without a draw; a late block answer is a busy node's.
TEST_F(FaultTest, PortsOnlyFaultsMakeJustTheBlockTransactionsLate) {
    snsim::RandomFaults faults;
    faults.late = 1.0;
    faults.lateBy = 1000ms;
    faults.portsOnly = true;
    emu().setRandomFaults(faults);
    client().timeout(kAnswered);
    std::vector<uint16_t> regs;
    uint16_t status = 0, word = 7;
    auto t0 = Clock::now();
    EXPECT_GE(client().readReg(15), 0);
    EXPECT_EQ(client().writeCoil(6, true), 1);
    EXPECT_EQ(client().readRegs(256 + 259, 1, regs), 1);
    EXPECT_EQ(modbus_write_and_read_registers(client().ctx(), 21, 1, &word, 256 + 386, 1, &status),
              1);
    EXPECT_LT(Clock::now() - t0, 1000ms) << "four requests, none of them late";
    EXPECT_EQ(emu().injectedFaults().requests, 0u) << "only port blocks are drawn for";

    t0 = Clock::now();
    EXPECT_EQ(client().send(2, bytesOf("ab")), 2);
    EXPECT_GE(Clock::now() - t0, 1000ms) << "the transmit block";
    emu().feedPort(1, bytesOf("xyz"));
    t0 = Clock::now();
    EXPECT_EQ(client().fetch(1, 10), bytesOf("xyz"));
    EXPECT_GE(Clock::now() - t0, 1000ms) << "the receive block";
    EXPECT_EQ(emu().injectedFaults().requests, 2u);
    EXPECT_EQ(emu().injectedFaults().late, 2u);

    // Given up on, the block still comes, before the answer to what the
    // master asked next: a read of the same shape takes it for its own.
    emu().feedPort(1, bytesOf("uvw"));
    client().timeout(80ms);
    EXPECT_EQ(client().readRegs(256 + 262, 11, regs), -1);
    client().timeout(kAnswered);
    ASSERT_EQ(client().readRegs(47, 11, regs), 11);
    EXPECT_EQ(regs[0], 3) << "the late receive block: its count";
    EXPECT_EQ(regs[1], ('u' << 8) | 'v');
    ASSERT_EQ(client().readRegs(47, 11, regs), 11);
    EXPECT_EQ(regs[0], emu().reg(47)) << "and then the node is in step";
    EXPECT_EQ(emu().rxPending(1), 0u);
}

TEST_F(FaultTest, CorruptedAnswersAreRejectedByTheMaster) {
    client().timeout(kAnswered);
    emu().setFault(Fault::BadCrc);
    EXPECT_EQ(client().readReg(15), -1);
    EXPECT_EQ(errno, EMBBADCRC);
    expectRecovers();

    emu().setFault(Fault::WrongSlave);
    EXPECT_EQ(client().readReg(15), -1);
    expectRecovers();

    emu().setFault(Fault::ShortFrame);
    EXPECT_EQ(client().readReg(15), -1);
    expectRecovers();

    // These faults spoil the answer only: the write itself happened.
    emu().setFault(Fault::BadCrc);
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

// Load only ever adds time, so the lower bounds are exact; the upper ones
// sit a whole frame time or more away, far beyond any scheduling noise.
TEST_F(FaultTest, LineTimingAnswersAfterTheFrameTimes) {
    ASSERT_EQ(client().writeCoil(4, true), 1);
    ASSERT_EQ(client().writeReg(255, 115200 / 4), 1);
    emu().setLineTiming(true, 2400);
    client().timeout(5000ms);
    const auto timedWrite = [&] {
        const auto t0 = Clock::now();
        EXPECT_EQ(client().send(0, std::vector<uint8_t>(240, 'x')), 240);
        return seconds(Clock::now() - t0);
    };
    // Write of 240 bytes: 255-char request + 7-char answer + 2 x 3.5
    // silences = 269 chars, 1.1208 s at 2400 bit/s.
    const double w = timedWrite();
    EXPECT_GE(w, 1.12);
    EXPECT_LT(w, 2.24);
    // Fetch of 11 registers: 8-char request + 27-char answer + 7 = 42
    // chars, 0.175 s: timed by its own frames, not by the long write's.
    const auto t0 = Clock::now();
    EXPECT_EQ(client().fetch(0, 10).size(), 20u);
    const double r = seconds(Clock::now() - t0);
    EXPECT_GE(r, 0.175);
    EXPECT_LT(r, 1.12);
    // Off again: the same write no longer waits for its frames.
    emu().setLineTiming(false, 2400);
    EXPECT_LT(timedWrite(), 1.12);
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

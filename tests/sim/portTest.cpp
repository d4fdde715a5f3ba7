// The virtual ports: blocks, FIFOs, line speed, control registers and
// attachments, driven through Modbus as the library would.
#include "simClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace simtest;

namespace {

snsim::Options portOptions(std::size_t tx = 512, std::size_t rx = 512) {
    snsim::Options o;
    o.ports[0].kind = snsim::Attachment::Kind::Loopback;
    o.ports[1].kind = snsim::Attachment::Kind::None;
    o.ports[2].kind = snsim::Attachment::Kind::None;
    o.txFifoSize = tx;
    o.rxFifoSize = rx;
    return o;
}

std::vector<uint8_t> pattern(std::size_t n) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
    return v;
}

}  // namespace

class PortTest : public SimTest {
protected:
    void SetUp() override { startWith(portOptions()); }
};

TEST_F(PortTest, ReceiveBlockPacksTwoBytesPerRegisterEarlierHigh) {
    emu().feedPort(1, bytesOf("ABCDE"));
    EXPECT_EQ(emu().rxPending(1), 5u);
    std::vector<uint16_t> r;
    ASSERT_EQ(client().readRegs(511 + 7, 11, r), 11);  // B+262 of port 1
    EXPECT_EQ(r[0], 5);
    EXPECT_EQ(r[1], 0x4142);
    EXPECT_EQ(r[2], 0x4344);
    EXPECT_EQ(r[3] >> 8, 0x45);
    EXPECT_EQ(emu().rxPending(1), 0u);
}

TEST_F(PortTest, ReceivedBytesAreHandedOutOnce) {
    const auto data = pattern(25);
    emu().feedPort(2, data);
    auto first = client().fetch(2, 10);  // 11 registers: at most 20 bytes
    EXPECT_EQ(first.size(), 20u);
    auto second = client().fetch(2, 10);
    EXPECT_EQ(second.size(), 5u);
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(first, data);
    EXPECT_TRUE(client().fetch(2, 10).empty());
    // A 121-register fetch takes up to 240 bytes at once.
    emu().feedPort(2, pattern(300));
    EXPECT_EQ(client().fetch(2, 120).size(), 240u);
    EXPECT_EQ(client().fetch(2, 120).size(), 60u);
}

TEST_F(PortTest, TransmitEnableOffAcceptsNothing) {
    EXPECT_EQ(client().send(1, bytesOf("abc")), 0);
    EXPECT_EQ(emu().txPending(1), 0u);
    ASSERT_EQ(client().writeCoil(5, true), 1);
    EXPECT_EQ(client().send(1, bytesOf("abc")), 3);
    EXPECT_EQ(emu().reg(511 + 131), 3);  // B+386: status of that write
    ASSERT_EQ(client().writeCoil(5, false), 1);
    EXPECT_EQ(client().send(1, bytesOf("abc")), 0);
}

TEST_F(PortTest, TransmittedBytesReachTheLineAndLoopBack) {
    ASSERT_EQ(client().writeCoil(4, true), 1);
    ASSERT_EQ(client().send(0, bytesOf("ping!")), 5);
    std::vector<uint8_t> got;
    ASSERT_TRUE(eventually([&] {
        auto b = client().fetch(0);
        got.insert(got.end(), b.begin(), b.end());
        return got.size() >= 5;
    }));
    EXPECT_EQ(got, bytesOf("ping!"));
    EXPECT_EQ(emu().takePortOutput(0), bytesOf("ping!"));  // the tap saw them too
    EXPECT_TRUE(emu().takePortOutput(0).empty());
}

TEST_F(PortTest, AcceptLimitCapsOneBlock) {
    ASSERT_EQ(client().writeCoil(5, true), 1);
    emu().setAcceptLimit(1, 10);
    EXPECT_EQ(client().send(1, pattern(50)), 10);
    emu().setAcceptLimit(1, 0);
    EXPECT_EQ(client().send(1, pattern(50)), 0);
    emu().setAcceptLimit(1, -1);
    EXPECT_EQ(client().send(1, pattern(50)), 50);
}

// The exact drain rate is the port model's (portModelTest.cpp); here the
// speed register reaches it: 0 stops the line, 4800 bit/s is slower than
// the 9600 default.  Load only ever adds time, so the bound is one-sided.
TEST_F(PortTest, SpeedRegisterStopsAndPacesTheLine) {
    ASSERT_EQ(client().writeCoil(5, true), 1);
    ASSERT_EQ(client().writeReg(511, 0), 1);
    ASSERT_EQ(client().send(1, pattern(240)), 240);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(emu().txPending(1), 240u);
    EXPECT_TRUE(emu().takePortOutput(1).empty());
    const auto t0 = Clock::now();
    ASSERT_EQ(client().writeReg(511, 4800 / 4), 1);  // 240 bytes: 500 ms
    ASSERT_TRUE(eventually([&] { return emu().txPending(1) == 0; }, 5s));
    EXPECT_GE(Clock::now() - t0, 490ms);
    EXPECT_EQ(emu().takePortOutput(1), pattern(240));
}

TEST_F(PortTest, BusyBitsFollowTheTransmitFifo) {
    for (int p = 0; p < 3; ++p) {
        ASSERT_EQ(client().writeCoil(4 + p, true), 1);
        ASSERT_EQ(client().writeReg(256 * p + 255, 0), 1);  // line stopped: stays busy
    }
    EXPECT_EQ(client().readReg(254), 0);
    const int bits[3] = {0x8000, 0x0008, 0x0080};
    int busy = 0;
    for (int p = 0; p < 3; ++p) {
        ASSERT_EQ(client().send(p, pattern(100)), 100);
        busy |= bits[p];
        EXPECT_EQ(client().readReg(254), busy) << p;
    }
    for (int p = 0; p < 3; ++p) ASSERT_EQ(client().writeReg(256 * p + 255, 115200 / 4), 1);
    EXPECT_TRUE(eventually([&] { return client().readReg(254) == 0; }, 2s));
    emu().setReg(254, 0x0008);  // forced busy, for drain tests
    EXPECT_EQ(client().readReg(254), 0x0008);
    emu().setReg(254, 0);
    EXPECT_EQ(client().readReg(254), 0);
}

TEST_F(PortTest, FlushesEmptyEitherSide) {
    ASSERT_EQ(client().writeCoil(6, true), 1);
    ASSERT_EQ(client().writeReg(767, 0), 1);  // line stopped: nothing leaves
    ASSERT_EQ(client().send(2, pattern(200)), 200);
    EXPECT_EQ(emu().txPending(2), 200u);
    ASSERT_EQ(client().writeReg(767 + 132, 32), 1);  // B+387
    EXPECT_EQ(emu().txPending(2), 0u);
    EXPECT_EQ(client().readReg(254) & 0x80, 0);

    emu().feedPort(2, pattern(30));
    ASSERT_EQ(client().writeReg(767 + 2, 32), 1);  // B+257
    EXPECT_EQ(emu().rxPending(2), 0u);
    EXPECT_TRUE(client().fetch(2).empty());
}

// How much frees up as the line drains is the port model's
// (portModelTest.cpp); here the status register reports exactly what the
// bounded FIFO took, and only that reaches the line.
TEST(PortFifo, TransmitFifoBoundGivesPartialAcceptance) {
    snsim::Emulator emu(portOptions(64, 512));
    ASSERT_TRUE(emu.start());
    Client c(emu.devicePath());
    ASSERT_EQ(c.writeCoil(5, true), 1);
    ASSERT_EQ(c.writeReg(511, 0), 1);  // line stopped
    EXPECT_EQ(c.send(1, pattern(240)), 64);
    EXPECT_EQ(c.send(1, pattern(240)), 0);
    EXPECT_EQ(emu.txPending(1), 64u);
    ASSERT_EQ(c.writeReg(511, 115200 / 4), 1);
    ASSERT_TRUE(eventually([&] { return emu.txPending(1) == 0; }));
    EXPECT_EQ(c.send(1, pattern(240)), 64);
    ASSERT_TRUE(eventually([&] { return emu.txPending(1) == 0; }));
    std::vector<uint8_t> line = pattern(64);
    const auto again = pattern(64);
    line.insert(line.end(), again.begin(), again.end());
    EXPECT_EQ(emu.takePortOutput(1), line);
}

TEST(PortFifo, ReceiveOverflowDropsAndSetsOverrunBit) {
    snsim::Emulator emu(portOptions(512, 16));
    ASSERT_TRUE(emu.start());
    Client c(emu.devicePath());
    emu.feedPort(1, pattern(20));
    EXPECT_EQ(emu.rxPending(1), 16u);
    EXPECT_EQ(c.readReg(511 + 4), 0x0002);  // B+259 bit 1: overrun
    ASSERT_EQ(c.writeReg(511 + 2, 31), 1);  // clear flags
    EXPECT_EQ(c.readReg(511 + 4), 0);
    EXPECT_EQ(c.fetch(1), std::vector<uint8_t>(pattern(16)));

    // Loopback overflows the same way.
    ASSERT_EQ(c.writeCoil(4, true), 1);
    ASSERT_EQ(c.writeReg(255, 115200 / 4), 1);
    EXPECT_EQ(c.send(0, pattern(40)), 40);
    EXPECT_TRUE(eventually([&] { return emu.txPending(0) == 0; }));
    EXPECT_EQ(emu.rxPending(0), 16u);
    EXPECT_EQ(emu.reg(259) & 0x0002, 0x0002);
}

TEST_F(PortTest, BreakIsHeldUntilCleared) {
    EXPECT_FALSE(emu().breakActive(1));
    ASSERT_EQ(client().writeReg(511 + 133, 1), 1);  // B+388
    EXPECT_TRUE(emu().breakActive(1));
    EXPECT_EQ(client().readReg(511 + 133), 1);
    ASSERT_EQ(client().writeReg(511 + 133, 0), 1);
    EXPECT_FALSE(emu().breakActive(1));
}

TEST(PortAttachment, PtyInstrumentTalksBothWays) {
    snsim::Options o = portOptions();
    o.ports[1].kind = snsim::Attachment::Kind::Pty;
    o.ports[1].linkPath = "/tmp/snsim-test-inst-" + std::to_string(getpid());
    snsim::Emulator emu(o);
    ASSERT_TRUE(emu.start());
    const std::string path = emu.instrumentPath(1);
    ASSERT_FALSE(path.empty());
    char target[256] = {};
    ASSERT_GT(readlink(o.ports[1].linkPath.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);

    const int fd = open(o.ports[1].linkPath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    Client c(emu.devicePath());
    ASSERT_EQ(write(fd, "abc", 3), 3);
    std::vector<uint8_t> got;
    EXPECT_TRUE(eventually([&] {
        auto b = c.fetch(1);
        got.insert(got.end(), b.begin(), b.end());
        return got.size() >= 3;
    }));
    EXPECT_EQ(got, bytesOf("abc"));

    ASSERT_EQ(c.writeCoil(5, true), 1);
    ASSERT_EQ(c.send(1, bytesOf("xyz")), 3);
    std::string in;
    EXPECT_TRUE(eventually([&] {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            char buf[16];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) in.append(buf, static_cast<std::size_t>(n));
        }
        return in.size() >= 3;
    }));
    EXPECT_EQ(in, "xyz");
    close(fd);
    emu.stop();
    EXPECT_NE(access(o.ports[1].linkPath.c_str(), F_OK), 0);  // link removed
}

TEST(PortAttachment, ExecRunsACommandBehindThePort) {
    snsim::Options o = portOptions();
    o.ports[2].kind = snsim::Attachment::Kind::Exec;
    o.ports[2].command = "printf 'hello from sh'; sleep 5";
    snsim::Emulator emu(o);
    ASSERT_TRUE(emu.start());
    EXPECT_FALSE(emu.instrumentPath(2).empty());
    Client c(emu.devicePath());
    std::vector<uint8_t> got;
    EXPECT_TRUE(eventually([&] {
        auto b = c.fetch(2);
        got.insert(got.end(), b.begin(), b.end());
        return got.size() >= 13;
    }));
    EXPECT_EQ(std::string(got.begin(), got.end()), "hello from sh");
    const auto t0 = Clock::now();
    emu.stop();  // ends the command
    EXPECT_LT(Clock::now() - t0, 2s);
}

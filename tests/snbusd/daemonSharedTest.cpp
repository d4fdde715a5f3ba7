// One bus, many tools at once through snbusd: independent clients in
// processes of their own, a terminal beside a power switcher, two bridges.
#include <modbus.h>
#include <snLib.h>
#include <sys/wait.h>

#include <cerrno>

#include <atomic>
#include <filesystem>
#include <thread>

#include "consoleProgram.h"
#include "daemonFixture.h"
#include "serialClient.h"

namespace snbusd_test {

namespace {

// Analog channel c of slave 1 holds 1000 + 111 c: every client its own value.
uint16_t channelValue(int channel) { return static_cast<uint16_t>(1000 + 111 * channel); }

// The library tells the daemon its 600 ms wait (the daemon's own is 2 s
// here) and waits for the daemon's answer.  A node 900 ms late is settled
// on the line: the call gets the node's value.  One later than the
// settling (1600 ms; the probe is given up on at 1350) fails the call, and
// its answer, when it comes, is never taken for the next call's, though
// that reads a register of the same shape.
TEST_F(DaemonTest, ThroughTheDaemonALibraryCallGetsTheNodesLateAnswerOrNoOthers) {
    startDaemon({"--timeout", "2000"});
    initSensorNodeLib();
    SensorNode* node = openSensorNode(tcpName().c_str(), 115200, 1);
    ASSERT_NE(node, nullptr);
    sim.setReg(15, 4242, 1);
    sim.setReg(16, 0x0105, 1);
    sim.setFault(snsim::Fault::Delay, 900ms);
    uint16_t value = 0;
    EXPECT_EQ(snGetSerialNum(node, &value), 0) << modbus_strerror(errno);
    EXPECT_EQ(value, 4242);
    std::this_thread::sleep_for(700ms);  // the probe's answer, as late, comes and goes
    sim.setFault(snsim::Fault::Delay, 1600ms);
    sim.setReg(15, 4343, 1);
    EXPECT_EQ(snGetSerialNum(node, &value), -1);
    EXPECT_EQ(errno, EMBXGTAR);
    sim.setFault(snsim::Fault::None);
    // The serial number's late answer (4343) comes while this call waits.
    value = 0;
    ASSERT_EQ(snGetSoftwareRev(node, &value), 0) << modbus_strerror(errno);
    EXPECT_EQ(value, 0x0105);
    ASSERT_EQ(snGetSerialNum(node, &value), 0) << modbus_strerror(errno);
    EXPECT_EQ(value, 4343);
    EXPECT_EQ(closeSensorNode(node), 0);
}

TEST_F(DaemonTest, EightClientsInProcessesOfTheirOwnNeverGetAnotherOnesAnswer) {
    startDaemon();
    for (int c = 0; c < 8; ++c) sim.setReg(31 + c, channelValue(c));
    std::vector<std::unique_ptr<sntest::CapturedProcess>> clients;
    for (int c = 0; c < 8; ++c) {
        auto client = std::make_unique<sntest::CapturedProcess>();
        const std::string value = std::to_string(channelValue(c));
        if (c < 5) {  // the library, through a tcp: name
            ASSERT_TRUE(
                client->start({BUS_READER_PATH, tcpName(), std::to_string(c), value, "500"}));
        } else {  // pymodbus: a Modbus TCP client that owes us nothing
            ASSERT_TRUE(
                client->start({"/usr/bin/python3", PYMODBUS_READER_PATH, std::to_string(port), "1",
                               std::to_string(31 + c), value, "500"}));
        }
        clients.push_back(std::move(client));
    }
    for (auto& client : clients) {
        const sntest::RunResult result = client->wait(120s);
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_NE(result.out.find("500 reads, 0 wrong, 0 failed"), std::string::npos) << result.out;
    }
    // Their requests took turns on the line.
    std::size_t switches = 0;
    int last = -1;
    for (const auto& t : lineTraffic()) {
        if (t.function != 3) continue;
        if (t.address != last) ++switches;
        last = t.address;
    }
    EXPECT_GT(switches, 1000u);
}

class TerminalBeside : public DaemonTest {
protected:
    // The test feeds 2 KiB at once: room for it in the node.
    TerminalBeside() : DaemonTest([](snsim::Options& options) { options.rxFifoSize = 4096; }) {}
};

TEST_F(TerminalBeside, SnctlSwitchingPowerInALoop) {
    startDaemon();
    std::atomic<bool> done{false};
    std::atomic<int> switched{0}, failed{0};
    std::thread switcher([&] {
        for (int i = 0; !done; ++i) {
            const sntest::RunResult run = sntest::runProgram(
                {SNCTL_PATH, "-p", tcpName(), "power", "3", i % 2 == 0 ? "on" : "off"});
            (run.status == 0 ? switched : failed)++;
        }
    });
    sntest::ConsoleProgram console;
    ASSERT_TRUE(console.start(SNTERM_PATH, {"-p", tcpName(), "-t", "0", "-b", "115200"},
                              sntest::ConsoleOptions{.outputProcessing = false}));
    ASSERT_TRUE(console.waitForOutput("Using serial port 0 at 115200,N81\n", 10s))
        << console.output();
    const std::size_t shown = console.output().size();
    std::string typed, fed;
    for (int i = 0; i < 2048; ++i) typed += static_cast<char>('a' + i % 26);
    for (int i = 0; i < 2048; ++i) fed += static_cast<char>('A' + i % 26);
    console.type(typed);
    sim.feedPort(0, Bytes(fed.begin(), fed.end()));
    std::string line;
    for (auto until = std::chrono::steady_clock::now() + 20s;
         line.size() < typed.size() && std::chrono::steady_clock::now() < until;) {
        const auto more = sim.takePortOutput(0);
        line.append(more.begin(), more.end());
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(line, typed);
    EXPECT_TRUE(console.waitForOutputSize(shown + fed.size(), 20s));
    EXPECT_EQ(console.output().substr(shown), fed);
    // A slow machine (a sanitizer) may move the bytes in fewer snctl runs:
    // the terminal stays attached until a few switches have been made.
    for (auto until = std::chrono::steady_clock::now() + 20s;
         switched + failed <= 2 && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(10ms);
    done = true;
    switcher.join();
    EXPECT_GT(switched.load(), 2);
    EXPECT_EQ(failed.load(), 0);
    console.type("\x04");
    const auto status = console.waitForExit(10s);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << console.output();
}

class TwoBridges : public DaemonTest {
protected:
    TwoBridges()
        : DaemonTest([](snsim::Options& options) {
              for (const int p : {1, 2}) {
                  options.ports[static_cast<std::size_t>(p)].kind = snsim::Attachment::Kind::Pty;
                  options.rxFifoSize = 4096;
              }
          }) {}
};

Bytes pattern(std::size_t size, int seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>((i * 31 + i / 256 + seed) & 0xFF);
    return out;
}

TEST_F(TwoBridges, OnPortsOneAndTwoCarry64KiBEachWayAtOnce) {
    startDaemon();
    constexpr std::size_t kSize = 64 * 1024;
    std::vector<std::unique_ptr<sntest::CapturedProcess>> bridges;
    std::vector<std::unique_ptr<sntest::SerialClient>> locals, instruments;
    for (const int p : {1, 2}) {
        const std::string linkPath = dir + "/port" + std::to_string(p);
        auto bridge = std::make_unique<sntest::CapturedProcess>();
        ASSERT_TRUE(bridge->start({SNCTL_PATH, "-p", tcpName(), "bridge", std::to_string(p), "-b",
                                   "230400", "--link", linkPath}));
        for (int i = 0; i < 500 && !std::filesystem::exists(linkPath); ++i)
            std::this_thread::sleep_for(10ms);
        locals.push_back(std::make_unique<sntest::SerialClient>());
        ASSERT_TRUE(locals.back()->open(linkPath)) << bridge->errorsSoFar();
        instruments.push_back(std::make_unique<sntest::SerialClient>());
        ASSERT_TRUE(instruments.back()->open(sim.instrumentPath(p)));
        bridges.push_back(std::move(bridge));
    }
    std::vector<std::thread> movers;
    std::vector<Bytes> arrived(4);
    for (std::size_t i = 0; i < 2; ++i) {
        movers.emplace_back(
            [&, i] { EXPECT_TRUE(locals[i]->writeAll(pattern(kSize, int(i)), 30s)); });
        movers.emplace_back(
            [&, i] { EXPECT_TRUE(instruments[i]->writeAll(pattern(kSize, int(i) + 2), 30s)); });
        movers.emplace_back([&, i] { arrived[2 * i] = instruments[i]->readExactly(kSize, 30s); });
        movers.emplace_back([&, i] { arrived[2 * i + 1] = locals[i]->readExactly(kSize, 30s); });
    }
    for (auto& mover : movers) mover.join();
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(arrived[2 * i] == pattern(kSize, int(i))) << "to port " << i + 1;
        EXPECT_TRUE(arrived[2 * i + 1] == pattern(kSize, int(i) + 2)) << "from port " << i + 1;
    }
    for (auto& bridge : bridges) {
        bridge->signal(SIGTERM);
        const sntest::RunResult end = bridge->wait(10s);
        EXPECT_EQ(end.status, 0) << end.err;
    }
}

}  // namespace

}  // namespace snbusd_test

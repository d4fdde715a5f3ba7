// snctl bridge --listen: independent clients (pyserial's RFC 2217 client,
// raw sockets) against the real snctl, with the emulated node's own
// registers as the check of what reached the port.
#include "capturedProcess.h"
#include "consoleProgram.h"
#include "freePort.h"
#include "rawHttpClient.h"

#include "snsim/emulator.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using sntest::CapturedProcess;
using sntest::RunResult;

namespace {

constexpr int kPort = 1;
constexpr int kSpeedRegister = 256 * kPort + 255;
constexpr int kFormatRegister = 256 * kPort + 256;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class RemoteBridgeTest : public ::testing::Test {
protected:
    RemoteBridgeTest() : sim(nodeOptions()) {}

    static snsim::Options nodeOptions() {
        snsim::Options options;
        for (auto& port : options.ports) port.kind = snsim::Attachment::Kind::None;
        options.ports[kPort].kind = snsim::Attachment::Kind::Loopback;
        options.rxFifoSize = 4096;
        return options;
    }

    void SetUp() override { ASSERT_TRUE(sim.start()); }
    void TearDown() override { bridge.signal(SIGKILL); }

    // Starts the bridge on a port the system picks and waits for it.
    void startBridge(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv{
            SNCTL_PATH, "-p", sim.devicePath(), "bridge", std::to_string(kPort), "--listen", "0"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(bridge.start(argv));
        ASSERT_TRUE(waitUntil(
            [this] { return bridge.outputSoFar().find("protocol: ") != std::string::npos; }, 10s))
            << bridge.errorsSoFar();
        const std::string out = bridge.outputSoFar();
        const auto at = out.find("listen: 127.0.0.1:");
        ASSERT_NE(at, std::string::npos) << out;
        tcpPort = static_cast<uint16_t>(std::stoi(out.substr(at + 18)));
    }

    RunResult stopBridge() {
        bridge.signal(SIGTERM);
        return bridge.wait(10s);
    }

    // Lines the bridge logged that contain `text`.
    int logged(const std::string& text) const {
        const std::string err = bridge.errorsSoFar();
        int count = 0;
        for (auto at = err.find(text); at != std::string::npos; at = err.find(text, at + 1))
            ++count;
        return count;
    }

    bool wroteRegister(int address, uint16_t value) const {
        for (const auto& t : sim.log())
            if (t.function == 6 && t.address == address && t.values == std::vector<uint16_t>{value})
                return true;
        return false;
    }

    // Formats of the line settings the node got (at `speed` only, unless 0).
    std::vector<uint16_t> lineWrites(uint16_t speed) const {
        std::vector<uint16_t> formats;
        for (const auto& t : sim.log())
            if (t.function == 16 && t.address == kSpeedRegister && t.values.size() == 2 &&
                (speed == 0 || t.values[0] == speed))
                formats.push_back(t.values[1]);
        return formats;
    }
    std::size_t lineWrites() const { return lineWrites(0).size(); }

    // A raw client; -1 when refused.
    int connectRaw() const { return sntest::connectTo("127.0.0.1", tcpPort); }

    snsim::Emulator sim;
    CapturedProcess bridge;
    uint16_t tcpPort = 0;
};

class PyserialClient {
public:
    PyserialClient(const std::string& mode, uint16_t port) {
        started_ = process_.start({"/usr/bin/python3", RFC2217_CLIENT, mode, std::to_string(port)});
    }
    bool reached(const std::string& step, std::chrono::milliseconds timeout = 20s) {
        return started_ &&
               waitUntil(
                   [&] {
                       return process_.outputSoFar().find("ok " + step + "\n") !=
                                  std::string::npos ||
                              process_.outputSoFar().find("FAIL") != std::string::npos;
                   },
                   timeout) &&
               process_.outputSoFar().find("ok " + step + "\n") != std::string::npos;
    }
    RunResult end() { return process_.wait(30s); }
    std::string output() const { return process_.outputSoFar() + process_.errorsSoFar(); }

private:
    CapturedProcess process_;
    bool started_ = false;
};

// The road: the client's line reaches the node's registers, all
// byte values pass (0xFF doubled on the wire), break and purges reach the
// port, a second client is refused and the next one is let in at once, and
// the line goes back when the client leaves.
TEST_F(RemoteBridgeTest, PyserialSetsTheNodesLineAndMovesEveryByteValue) {
    startBridge();
    EXPECT_EQ(sim.reg(kSpeedRegister), 9600 / 4);
    PyserialClient client("scenario", tcpPort);
    ASSERT_TRUE(client.reached("echo")) << client.output();
    ASSERT_TRUE(client.reached("line")) << client.output();
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kSpeedRegister) == 28800; }, 1500ms));
    EXPECT_EQ(sim.reg(kFormatRegister), 11);
    EXPECT_EQ(lineWrites(), 4) << "the bridge's own, then one for each setter's burst";

    ASSERT_TRUE(client.reached("break-starts")) << client.output();
    EXPECT_TRUE(waitUntil([&] { return sim.breakActive(kPort); }, 900ms));
    ASSERT_TRUE(client.reached("break-ended")) << client.output();
    EXPECT_TRUE(waitUntil([&] { return !sim.breakActive(kPort); }, 1s));
    ASSERT_TRUE(client.reached("purged")) << client.output();
    EXPECT_TRUE(waitUntil([&] { return wroteRegister(256 * kPort + 257, 32); }, 1s));
    EXPECT_TRUE(waitUntil([&] { return wroteRegister(256 * kPort + 387, 32); }, 1s));
    ASSERT_TRUE(client.reached("second-refused")) << client.output();
    ASSERT_TRUE(client.reached("echo-after-reopen")) << client.output();
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kSpeedRegister) == 19200 / 4; }, 1s));
    EXPECT_EQ(lineWrites(19200 / 4), (std::vector<uint16_t>{11}))
        << "speed, parity and stop size of one burst in one line setting";
    const RunResult python = client.end();
    EXPECT_EQ(python.status, 0) << python.out << python.err;
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kSpeedRegister) == 9600 / 4; }, 2s))
        << "the line as it was before the client";
    EXPECT_EQ(sim.reg(kFormatRegister), 8);
    EXPECT_EQ(logged("refused 127.0.0.1:"), 1) << bridge.errorsSoFar();
    EXPECT_EQ(sim.reg(256 * kPort + 259) & 0x0002, 0) << "the node's receive buffer overran";
    const RunResult end = stopBridge();
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_NE(end.out.find("clients: 2\nrefused: 1\ndropped: 0\nto node: 8192\nfrom node: 8192\n"),
              std::string::npos)
        << end.out;
}

// gensio's terminal, a second independent client: bytes both ways, and its
// escapes set the speed and parity of the node's port and send a break.
TEST_F(RemoteBridgeTest, GensiotSetsTheLineAndMovesBytes) {
    startBridge({"-b", "19200"});
    sntest::ConsoleProgram gensiot;
    ASSERT_TRUE(gensiot.ok());
    ASSERT_TRUE(gensiot.start("/usr/bin/gensiot",
                              {"telnet(rfc2217),tcp,127.0.0.1," + std::to_string(tcpPort)}));
    ASSERT_TRUE(waitUntil([&] { return logged(" connected") == 1; }, 5s)) << bridge.errorsSoFar();
    std::this_thread::sleep_for(300ms);
    gensiot.type("hello\xff!");
    EXPECT_TRUE(gensiot.waitForOutput("hello\xff!", 5s)) << gensiot.output();
    gensiot.type("\x1cs38400\n");
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kSpeedRegister) == 38400 / 4; }, 3s));
    gensiot.type(
        "\x1c"
        "e");
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kFormatRegister) == 10; }, 3s));
    sim.clearLog();
    gensiot.type(
        "\x1c"
        "b");
    EXPECT_TRUE(waitUntil([&] { return wroteRegister(256 * kPort + 388, 1); }, 3s));
    EXPECT_TRUE(waitUntil([&] { return wroteRegister(256 * kPort + 388, 0); }, 3s));
    gensiot.type("again");
    EXPECT_TRUE(gensiot.waitForOutput("again", 5s)) << gensiot.output();
    gensiot.type("\x1cq");
    EXPECT_TRUE(gensiot.waitForExit(5s).has_value());
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kSpeedRegister) == 19200 / 4; }, 3s))
        << "the line as it was before gensiot";
    EXPECT_EQ(sim.reg(kFormatRegister), 8);
}

// A raw Telnet client: the modem state once the option is agreed, its
// masks echoed, and the port's overrun as a line state notification.
TEST_F(RemoteBridgeTest, LineAndModemStateNotificationsAsTheClientAsked) {
    startBridge();
    const int fd = connectRaw();
    ASSERT_GE(fd, 0);
    sntest::sendAll(fd, std::string("\xff\xfb\x2c", 3));  // WILL COM-PORT-OPTION
    const std::string modemState("\xff\xfa\x2c\x6b\xb0\xff\xf0", 7);
    std::string got;
    EXPECT_TRUE(waitUntil(
        [&] {
            got += sntest::receive(fd, 100ms).bytes;
            return got.find(modemState) != std::string::npos;
        },
        3s))
        << "CTS, DSR and carrier";
    sntest::sendAll(fd, std::string("\xff\xfa\x2c\x0a\x02\xff\xf0", 7));  // overrun only
    const std::string maskAnswer("\xff\xfa\x2c\x6e\x02\xff\xf0", 7);
    EXPECT_TRUE(waitUntil(
        [&] {
            got += sntest::receive(fd, 100ms).bytes;
            return got.find(maskAnswer) != std::string::npos;
        },
        1s));
    // More than the node's buffer at once: an overrun on the port.
    sim.feedPort(kPort, std::vector<uint8_t>(5000, 'o'));
    const std::string overrun("\xff\xfa\x2c\x6a\x02\xff\xf0", 7);
    EXPECT_TRUE(waitUntil(
        [&] {
            got += sntest::receive(fd, 100ms).bytes;
            return got.find(overrun) != std::string::npos;
        },
        3s));
    EXPECT_TRUE(waitUntil([&] { return (sim.reg(256 * kPort + 259) & 0x0002) == 0; }, 2s))
        << "reported once and cleared on the node";
    close(fd);
}

// Bytes a client sent before a line change go out at the old speed: the
// node's port changes its line only once they have all left it.
TEST_F(RemoteBridgeTest, ALineChangeWaitsForTheBytesSentBeforeIt) {
    startBridge();
    const int telnet = connectRaw();
    ASSERT_GE(telnet, 0);
    sim.takePortOutput(kPort);
    // 480 bytes take half a second at 9600; then SET-BAUDRATE 115200.
    sntest::sendAll(telnet, std::string(480, 'd') +
                                std::string("\xff\xfa\x2c\x01\x00\x01\xc2\x00\xff\xf0", 10));
    std::size_t pendingAtChange = 1;
    ASSERT_TRUE(waitUntil(
        [&] {
            if (sim.reg(kSpeedRegister) != 115200 / 4) return false;
            pendingAtChange = sim.txPending(kPort);
            return true;
        },
        5s));
    EXPECT_EQ(pendingAtChange, 0u) << "the line changed under bytes still leaving the node";
    EXPECT_EQ(sim.takePortOutput(kPort).size(), 480u);
    close(telnet);
}

// Stopped while a client holds a line and a break of its own: the port is
// left with the bridge's line and no break.
TEST_F(RemoteBridgeTest, StoppingWithAClientConnectedRestoresTheLine) {
    startBridge({"-b", "19200"});
    const int fd = connectRaw();
    ASSERT_GE(fd, 0);
    // WILL COM-PORT-OPTION, SET-BAUDRATE 38400, SET-CONTROL break on.
    sntest::sendAll(fd, std::string("\xff\xfb\x2c\xff\xfa\x2c\x01\x00\x00\x96\x00\xff\xf0"
                                    "\xff\xfa\x2c\x05\x05\xff\xf0",
                                    20));
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kSpeedRegister) == 38400 / 4; }, 2s));
    EXPECT_TRUE(waitUntil([&] { return sim.breakActive(kPort); }, 2s));
    const RunResult end = stopBridge();
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(sim.reg(kSpeedRegister), 19200 / 4);
    EXPECT_FALSE(sim.breakActive(kPort));
    close(fd);
}

// The same pyserial script through ser2net in front of the pty bridge and
// through the served bridge: bytes pass both ways, but only the served
// bridge puts the client's line on the node's port.
TEST_F(RemoteBridgeTest, Ser2netInFrontOfThePtyBridgeCarriesBytesButNotTheLine) {
    char dirTemplate[] = "/tmp/snctl-ser2net-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    CapturedProcess ptyBridge;
    ASSERT_TRUE(ptyBridge.start({SNCTL_PATH, "-p", sim.devicePath(), "bridge",
                                 std::to_string(kPort), "-b", "19200", "--link", dir + "/link"}));
    ASSERT_TRUE(
        waitUntil([&] { return ptyBridge.outputSoFar().find("pty: ") != std::string::npos; }, 10s));
    const uint16_t ser2netPort = sntest::freeLoopbackPort();
    const std::string config = dir + "/ser2net.yaml";
    std::FILE* file = std::fopen(config.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fprintf(file,
                 "connection: &port1\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%u\n"
                 "  connector: serialdev(nouucplock),%s/link,19200n81,local\n",
                 ser2netPort, dir.c_str());
    std::fclose(file);
    CapturedProcess ser2net;
    ASSERT_TRUE(ser2net.start({"/usr/sbin/ser2net", "-d", "-u", "-P", dir + "/pid", "-c", config}));
    // ser2net serves one client at a time too: the probe goes at once.
    ASSERT_TRUE(waitUntil(
        [&] {
            const int probe = sntest::connectTo("127.0.0.1", ser2netPort);
            if (probe >= 0) close(probe);
            return probe >= 0;
        },
        5s));
    std::this_thread::sleep_for(300ms);

    PyserialClient throughSer2net("echo", ser2netPort);
    ASSERT_TRUE(throughSer2net.reached("line")) << throughSer2net.output();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sim.reg(kSpeedRegister), 19200 / 4) << "ser2net sets the pty, not the node";
    EXPECT_EQ(throughSer2net.end().status, 0) << throughSer2net.output();
    ser2net.signal(SIGTERM);
    ptyBridge.signal(SIGTERM);
    EXPECT_EQ(ptyBridge.wait(10s).status, 0);
    ser2net.wait(5s);

    startBridge({"-b", "19200"});
    PyserialClient served("echo", tcpPort);
    ASSERT_TRUE(served.reached("line")) << served.output();
    EXPECT_TRUE(waitUntil([&] { return sim.reg(kSpeedRegister) == 38400 / 4; }, 1s))
        << "the served bridge sets the node's port";
    EXPECT_EQ(served.end().status, 0) << served.output();
    std::filesystem::remove_all(dir);
}

// Garbage is only data; a subnegotiation that never ends closes that
// client alone, and the next client is served as before.
TEST_F(RemoteBridgeTest, GarbageAndAnEndlessSubnegotiationCloseOnlyTheOffender) {
    // Fast enough that the garbage's echo has passed before the last client.
    startBridge({"-b", "230400"});
    int garbage = connectRaw();
    ASSERT_GE(garbage, 0);
    std::string noise(8192, '\0');
    uint32_t seed = 7;
    for (char& byte : noise) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    sntest::sendAll(garbage, noise);
    close(garbage);
    EXPECT_TRUE(waitUntil([&] { return logged(" left: ") == 1; }, 2s));
    std::this_thread::sleep_for(1s);

    int endless = connectRaw();
    ASSERT_GE(endless, 0);
    sntest::sendAll(endless, std::string("\xff\xfa\x2c\x01", 4) + std::string(64 * 1024, 'x'));
    EXPECT_TRUE(sntest::receive(endless, 5s).closed);
    close(endless);
    EXPECT_TRUE(waitUntil([&] { return logged("broke the Telnet protocol") == 1; }, 2s))
        << bridge.errorsSoFar();

    PyserialClient client("echo", tcpPort);
    const RunResult python = client.end();
    EXPECT_EQ(python.status, 0) << python.out << python.err << bridge.errorsSoFar();
    EXPECT_TRUE(bridge.running());
}

// A client that never reads: the node's data backs up to our bound, and
// after 10 s of that the client is closed; the node is read again (and
// what comes dropped, counted) and the next client is served.
TEST_F(RemoteBridgeTest, AClientThatNeverReadsIsClosedAfterTenSeconds) {
    startBridge({"--raw"});
    const int idle = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(idle, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(tcpPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(idle, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::vector<uint8_t> block(1024, 'n');
    const auto deadline = std::chrono::steady_clock::now() + 25s;
    while (logged("has not read") == 0 && std::chrono::steady_clock::now() < deadline) {
        if (sim.rxPending(kPort) < 2048) sim.feedPort(kPort, block);
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(logged("has not read what the port received for 10 s"), 1) << bridge.errorsSoFar();
    EXPECT_TRUE(waitUntil([&] { return sim.rxPending(kPort) == 0; }, 2s))
        << "the node is read again";
    close(idle);
    std::this_thread::sleep_for(200ms);
    const int next = connectRaw();
    ASSERT_GE(next, 0);
    sntest::sendAll(next, "ping");
    std::string got;
    while (got.size() < 4) {
        const sntest::Received more = sntest::receive(next, 3s);
        got += more.bytes;
        if (more.bytes.empty()) break;
    }
    EXPECT_EQ(got, "ping");
    close(next);
    const RunResult end = stopBridge();
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.out.find("dropped: 0\n"), std::string::npos) << end.out;
}

// Sends `unit` repeated for `how long`, as fast as the socket takes it,
// never reading; the count of bytes sent.
std::size_t flood(int fd, const std::string& unit, std::chrono::milliseconds howLong) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string block;
    while (block.size() < 64 * 1024) block += unit;
    std::size_t sent = 0;
    const auto end = std::chrono::steady_clock::now() + howLong;
    while (std::chrono::steady_clock::now() < end) {
        const ssize_t n = send(fd, block.data(), block.size(), MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<std::size_t>(n);
        if (n <= 0) std::this_thread::sleep_for(1ms);
    }
    return sent;
}

// Telnet BREAKs (IAC BRK, 2 bytes) as fast as a client can send them, and
// nothing read: the breaks become one pulse at a time, the bridge's memory
// stays flat, another connection is handled as ever, and no pulse is left
// for after the client once it is reset.
TEST_F(RemoteBridgeTest, AFloodOfBreaksIsOnePulseAtATimeAndEndsWithItsClient) {
    startBridge({"-b", "230400"});
    const int flooder = connectRaw();
    ASSERT_GE(flooder, 0);
    ASSERT_TRUE(waitUntil([&] { return logged(" connected") == 1; }, 2s));
    const long before = sntest::residentKiB(bridge.pid());
    std::thread second([&] {
        std::this_thread::sleep_for(2s);
        const int fd = connectRaw();
        EXPECT_TRUE(sntest::receive(fd, 3s).closed) << "refused while the flooder is served";
        close(fd);
    });
    const std::size_t sent = flood(flooder, "\xff\xf3", 5s);
    second.join();
    const long after = sntest::residentKiB(bridge.pid());
    std::printf("IAC BRK flood: %zu bytes in 5 s; bridge resident %ld KiB before, %ld KiB after\n",
                sent, before, after);
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 8 * 1024);
    EXPECT_TRUE(wroteRegister(256 * kPort + 388, 1)) << "the breaks reach the port";
    EXPECT_EQ(logged("refused 127.0.0.1:"), 1) << bridge.errorsSoFar();

    const linger reset{1, 0};  // ended by a reset, as a client killed
    setsockopt(flooder, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(flooder);
    ASSERT_TRUE(waitUntil([&] { return logged(" left: ") == 1; }, 5s)) << bridge.errorsSoFar();
    std::this_thread::sleep_for(600ms);  // a pulse under way ends
    sim.clearLog();
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(wroteRegister(256 * kPort + 388, 1)) << "a break after the client left";
    EXPECT_FALSE(sim.breakActive(kPort));
    const int next = connectRaw();
    ASSERT_GE(next, 0);
    EXPECT_FALSE(sntest::receive(next, 2s).closed) << "the next client is served";
    close(next);
}

// Bytes a client queued that the node never took go with a client that was
// reset: the port sends none of them after it.  Only the relay's own queue
// (4 KiB) was already on its way.
TEST_F(RemoteBridgeTest, WhatAClientQueuedGoesWithIt) {
    startBridge({"-b", "230400", "--raw"});
    sim.setAcceptLimit(kPort, 0);
    const int writer = connectRaw();
    ASSERT_GE(writer, 0);
    flood(writer, "q", 2s);
    const linger reset{1, 0};  // closed with RST, as a client that crashed
    setsockopt(writer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(writer);
    ASSERT_TRUE(waitUntil([&] { return logged(" left: ") == 1; }, 5s)) << bridge.errorsSoFar();
    EXPECT_EQ(logged("dropped what it sent that the node had not taken"), 1)
        << bridge.errorsSoFar();
    sim.takePortOutput(kPort);
    sim.setAcceptLimit(kPort, -1);
    std::size_t reached = 0;
    waitUntil(
        [&] {
            const std::size_t more = sim.takePortOutput(kPort).size();
            reached += more;
            return more == 0 && reached > 0 && sim.txPending(kPort) == 0;
        },
        5s);
    std::this_thread::sleep_for(500ms);
    reached += sim.takePortOutput(kPort).size();
    std::printf("bytes at the port after the client had gone: %zu\n", reached);
    EXPECT_LE(reached, 4096u);
}

// What the node receives while no client is there: read at once either
// way; dropped and counted, or with --keep handed to the next client.
TEST_F(RemoteBridgeTest, BytesWithoutAClientAreDroppedOrKeptForTheNext) {
    for (const bool keep : {false, true}) {
        std::vector<std::string> extra{"--raw"};
        if (keep) extra.push_back("--keep");
        startBridge(extra);
        sim.feedPort(kPort, {'k', 'e', 'p', 't'});
        EXPECT_TRUE(waitUntil([&] { return sim.rxPending(kPort) == 0; }, 2s));
        std::this_thread::sleep_for(100ms);
        const int fd = connectRaw();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(sntest::receive(fd, keep ? 2s : 300ms).bytes, keep ? "kept" : "") << keep;
        close(fd);
        const RunResult end = stopBridge();
        EXPECT_NE(end.out.find(keep ? "dropped: 0\n" : "dropped: 4\n"), std::string::npos)
            << end.out;
    }
}

// With --json: the ready object names where it listens, the counts object
// adds the clients, refusals and drops to the pty bridge's two counts.
TEST_F(RemoteBridgeTest, JsonIsAReadyObjectThenACountsObject) {
    ASSERT_TRUE(bridge.start({SNCTL_PATH, "-p", sim.devicePath(), "--json", "bridge", "1", "-b",
                              "19200", "--listen", "127.0.0.1:0", "--raw"}));
    ASSERT_TRUE(waitUntil(
        [this] { return bridge.outputSoFar().find("\"protocol\"") != std::string::npos; }, 10s));
    const std::string ready = bridge.outputSoFar();
    const auto at = ready.find("127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << ready;
    const std::string address = ready.substr(at, ready.find('"', at) - at);
    const RunResult end = stopBridge();
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.out, "{\"port\":1,\"baud\":19200,\"format\":\"8N1\",\"listen\":\"" + address +
                           "\",\"protocol\":\"raw\"}\n{\"clients\":0,\"refused\":0,\"dropped\":0,"
                           "\"to_node\":0,\"from_node\":0,\"unknown_to_node\":0,"
                           "\"unknown_from_node\":0}\n");
}

// Fifty connections at once: one is served, the others refused with a log
// line each; then the bridge serves the next client as before.
TEST_F(RemoteBridgeTest, FiftyConnectionsAtOnceOneServedTheRestRefused) {
    startBridge();
    std::vector<int> sockets;
    for (int i = 0; i < 50; ++i) sockets.push_back(connectRaw());
    int served = 0, refused = 0;
    for (const int fd : sockets) {
        ASSERT_GE(fd, 0);
        const sntest::Received got = sntest::receive(fd, 2s);
        if (!got.bytes.empty() && static_cast<uint8_t>(got.bytes[0]) == 0xFF) ++served;
        if (got.bytes.empty() && got.closed) ++refused;
    }
    EXPECT_EQ(served, 1);
    EXPECT_EQ(refused, 49);
    for (const int fd : sockets) close(fd);
    EXPECT_TRUE(waitUntil([&] { return logged("refused 127.0.0.1:") == 49; }, 2s));
    EXPECT_TRUE(waitUntil([&] { return logged(" left: ") == 1; }, 2s));
    PyserialClient client("echo", tcpPort);
    const RunResult python = client.end();
    EXPECT_EQ(python.status, 0) << python.out << python.err << bridge.errorsSoFar();
}

TEST_F(RemoteBridgeTest, OnlyAllowedAddressesAreServed) {
    startBridge({"--allow", "10.0.0.0/8", "--allow", "::1"});
    int fd = connectRaw();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(sntest::receive(fd, 2s).closed);
    close(fd);
    EXPECT_TRUE(waitUntil([&] { return logged("not an allowed address") == 1; }, 2s));
    bridge.signal(SIGKILL);
    bridge.wait(5s);
    startBridge({"--allow", "127.0.0.0/8"});
    fd = connectRaw();
    ASSERT_GE(fd, 0);
    const sntest::Received offers = sntest::receive(fd, 2s);
    EXPECT_FALSE(offers.bytes.empty());
    close(fd);
}

}  // namespace

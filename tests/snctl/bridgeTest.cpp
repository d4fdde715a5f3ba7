// snctl bridge: an ordinary serial client on the bridge's link talks to
// the instrument behind virtual port 1 of the emulated node.
#include "bridgeFixture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using bridgetest::Bytes;
using bridgetest::kPort;
using bridgetest::waitUntil;
using sntest::RunResult;

namespace {

// Deterministic bytes covering every value, in no simple order.
Bytes pattern(std::size_t size, uint32_t seed) {
    Bytes data(size);
    for (auto& byte : data) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return data;
}

// Index of the first byte where `got` differs from `expected` (its size
// when all of `expected` arrived unchanged).
std::size_t firstDifference(const Bytes& got, const Bytes& expected) {
    const auto [at, _] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    return static_cast<std::size_t>(at - got.begin());
}

TEST_F(BridgeTest, SetsTheLineAndPassesAllByteValuesBothWays) {
    startBridge({"-b", "230400", "--parity", "E", "--stop", "2"});
    EXPECT_EQ(sim.reg(256 * kPort + 255), 230400 / 4);
    EXPECT_EQ(sim.reg(256 * kPort + 256), 11);

    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    ASSERT_TRUE(client.writeAll(all, 5s));
    EXPECT_EQ(instrument.readExactly(256, 10s), all);
    ASSERT_TRUE(instrument.writeAll(all, 5s));
    EXPECT_EQ(client.readExactly(256, 10s), all);

    bool wroteBlock = false, readBlock = false;
    for (const auto& t : sim.log()) {
        wroteBlock = wroteBlock || (t.function == 23 && t.address == 256 * kPort + 390);
        readBlock = readBlock || (t.function == 3 && t.address == 256 * kPort + 262);
    }
    EXPECT_TRUE(wroteBlock && readBlock);
    const RunResult end = stopBridge();
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_NE(end.out.find("to node: 256\nfrom node: 256\n"), std::string::npos) << end.out;
}

// 48 KiB each way at once at 57600 bit/s by default (a few seconds).
// SNCTL_BRIDGE_TRANSFER_BYTES=1048576 and SNCTL_BRIDGE_BAUD=230400 run the
// full mebibyte at the fast speed (about a minute; CTest runs it as
// bridge_mebibyte_each_way).
TEST_F(BridgeTest, BulkTransferBothWaysAtOnceArrivesWholeAndInOrder) {
    std::size_t size = 48 * 1024;
    std::string baud = "57600";
    if (const char* env = std::getenv("SNCTL_BRIDGE_TRANSFER_BYTES"))
        size = std::strtoul(env, nullptr, 10);
    if (const char* env = std::getenv("SNCTL_BRIDGE_BAUD")) baud = env;
    // A stall, not a rate: a loaded machine may take longer, never lose bytes.
    const auto timeout = 30s;
    startBridge({"-b", baud});
    const Bytes outbound = pattern(size, 1);
    const Bytes inbound = pattern(size, 2);
    Bytes arrivedOut, arrivedIn;
    std::thread farEnd([&] { arrivedOut = instrument.readExactly(size, timeout); });
    std::thread localEnd([&] { arrivedIn = client.readExactly(size, timeout); });
    std::thread inWriter([&] { EXPECT_TRUE(instrument.writeAll(inbound, timeout)); });
    EXPECT_TRUE(client.writeAll(outbound, timeout));
    inWriter.join();
    farEnd.join();
    localEnd.join();
    EXPECT_EQ(arrivedOut.size(), size);
    EXPECT_EQ(firstDifference(arrivedOut, outbound), size)
        << "pty to node: bytes lost or reordered";
    EXPECT_EQ(arrivedIn.size(), size);
    EXPECT_EQ(firstDifference(arrivedIn, inbound), size) << "node to pty: bytes lost or reordered";
    EXPECT_EQ(bridge.errorsSoFar(), "");
    EXPECT_EQ(sim.reg(256 * kPort + 259) & 0x0002, 0) << "the node's receive buffer overran";
}

TEST_F(BridgeTest, ClientsMayCloseAndReopenWithoutLosingData) {
    startBridge();
    ASSERT_TRUE(client.writeAll({'o', 'n', 'e'}, 5s));
    EXPECT_EQ(instrument.readExactly(3, 10s), (Bytes{'o', 'n', 'e'}));
    client.close();
    // Sent while nobody has the link open: kept for the next client.
    ASSERT_TRUE(instrument.writeAll({'k', 'e', 'p', 't'}, 5s));
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(client.open(link()));
    EXPECT_EQ(client.readExactly(4, 10s), (Bytes{'k', 'e', 'p', 't'}));
    ASSERT_TRUE(client.writeAll({'t', 'w', 'o'}, 5s));
    EXPECT_EQ(instrument.readExactly(3, 10s), (Bytes{'t', 'w', 'o'}));
    EXPECT_EQ(stopBridge().status, 0);
}

TEST_F(BridgeTest, WriterIsHeldBackWhileTheNodeTakesNothing) {
    startBridge();
    sim.setAcceptLimit(kPort, 0);
    const Bytes data = pattern(16 * 1024, 3);
    std::thread writer([&] { EXPECT_TRUE(client.writeAll(data, 60s)); });
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(instrument.readExactly(1, 100ms).empty());
    sim.setAcceptLimit(kPort, -1);
    EXPECT_TRUE(instrument.readExactly(data.size(), 30s) == data);
    writer.join();
    EXPECT_EQ(stopBridge().status, 0);
}

TEST_F(BridgeTest, StopSignalsRemoveTheLinkAndCloseThePort) {
    for (const int signal : {SIGTERM, SIGINT}) {
        startBridge();
        EXPECT_TRUE(sim.coil(4 + kPort)) << "open port: transmit enable on";
        client.close();
        const RunResult end = stopBridge(signal);
        EXPECT_EQ(end.status, 0) << end.err;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link()))) << signal;
        EXPECT_FALSE(sim.coil(4 + kPort)) << "closed port: transmit enable off";
    }
}

TEST_F(BridgeTest, DeadNodeIsReportedAndTheBridgeCarriesOnWhenItReturns) {
    startBridge();
    sim.setFault(snsim::Fault::NoAnswer);
    const std::string down =
        "snctl: bridge: node not answering on virtual port 1: cannot read virtual port 1: no "
        "answer from the node (Connection timed out)\n";
    EXPECT_TRUE(
        waitUntil([&] { return bridge.errorsSoFar().find('\n') != std::string::npos; }, 10s));
    EXPECT_EQ(bridge.errorsSoFar(), down) << "reported once, in words";
    sim.setFault(snsim::Fault::None);
    EXPECT_TRUE(waitUntil(
        [this] { return bridge.errorsSoFar().find("answering again") != std::string::npos; }, 10s));
    ASSERT_TRUE(client.writeAll({'b', 'a', 'c', 'k'}, 5s));
    EXPECT_EQ(instrument.readExactly(4, 10s), (Bytes{'b', 'a', 'c', 'k'}));
    EXPECT_EQ(stopBridge().status, 0);
}

// With --json: one object a line, the ready one first, the counts last.
TEST_F(BridgeTest, JsonIsAReadyObjectThenACountsObject) {
    ASSERT_TRUE(bridge.start({SNCTL_PATH, "-p", sim.devicePath(), "--json", "bridge", "1", "-b",
                              "19200", "--link", link()}));
    ASSERT_TRUE(waitUntil([this] { return fs::exists(link()); }, 10s)) << bridge.errorsSoFar();
    const std::string pty = fs::read_symlink(link()).string();
    const RunResult end = stopBridge();
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.out, "{\"port\":1,\"baud\":19200,\"format\":\"8N1\",\"link\":\"" + link() +
                           "\",\"pty\":\"" + pty +
                           "\"}\n{\"to_node\":0,\"from_node\":0,\"unknown_to_node\":0,"
                           "\"unknown_from_node\":0}\n");
}

// Stopped while its node is gone: the counts, then the failure, status 1.
TEST_F(BridgeTest, NodeLostAtTheEndIsAFailure) {
    startBridge();
    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_TRUE(waitUntil(
        [&] { return bridge.errorsSoFar().find("node not answering") != std::string::npos; }, 10s));
    const RunResult end = stopBridge();
    EXPECT_EQ(end.status, 1);
    EXPECT_NE(end.out.find("to node: 0\nfrom node: 0\n"), std::string::npos) << end.out;
    EXPECT_NE(end.err.find("snctl: bridge: virtual port 1 had lost its node when the bridge "
                           "stopped\n"),
              std::string::npos)
        << end.err;
}

// A second bridge on a link in use fails before it touches the node: the
// first bridge's line stays as it was set, and it goes on relaying.
TEST_F(BridgeTest, ALinkInUseIsRefusedWithoutTouchingTheNode) {
    startBridge();
    const std::string pty = fs::read_symlink(link()).string();
    sim.clearLog();
    const RunResult second = sntest::runProgram(
        {SNCTL_PATH, "-p", sim.devicePath(), "bridge", "1", "-b", "300", "--link", link()});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "snctl: cannot make the link " + link() + ": it is a link to " + pty +
                              ", which is in use: File exists\n");
    for (const auto& t : sim.log()) {
        EXPECT_TRUE(t.function == 3 || t.function == 23)
            << "fn " << t.function << " at " << t.address;
    }
    EXPECT_EQ(sim.reg(256 * kPort + 255), 230400 / 4);
    ASSERT_TRUE(client.writeAll({'s', 't', 'i', 'l', 'l'}, 5s));
    EXPECT_EQ(instrument.readExactly(5, 10s), (Bytes{'s', 't', 'i', 'l', 'l'}));
}

// Killed (-9), a bridge leaves its link; the next bridge on it takes it over.
TEST_F(BridgeTest, ALinkLeftByAKilledBridgeIsTakenOver) {
    startBridge();
    bridge.signal(SIGKILL);
    EXPECT_EQ(bridge.wait(10s).status, -1);
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link())));
    startBridge();
    ASSERT_TRUE(client.writeAll({'n', 'e', 'w'}, 5s));
    EXPECT_EQ(instrument.readExactly(3, 10s), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(stopBridge().status, 0);
}

TEST_F(BridgeTest, RefusesBadArgumentsAndPathsItWouldOverwrite) {
    const std::string device = sim.devicePath();
    RunResult run = sntest::runProgram({SNCTL_PATH, "-p", device, "bridge", "1"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--link PATH is required"), std::string::npos) << run.err;
    run = sntest::runProgram(
        {SNCTL_PATH, "-p", device, "bridge", "1", "--parity", "X", "--link", link()});
    EXPECT_EQ(run.status, 2);
    run = sntest::runProgram({SNCTL_PATH, "-p", device, "bridge", "3", "--link", link()});
    EXPECT_EQ(run.status, 2);

    const std::string taken = dir + "/taken";
    {
        std::FILE* file = std::fopen(taken.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    sim.clearLog();
    run = sntest::runProgram({SNCTL_PATH, "-p", device, "bridge", "1", "--link", taken});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "snctl: cannot make the link " + taken + ": a file is in the way: File exists\n");
    EXPECT_TRUE(fs::is_regular_file(taken));
    EXPECT_TRUE(sim.log().empty()) << "no traffic before the link is ours";
    run = sntest::runProgram({SNCTL_PATH, "-p", device, "bridge", "1", "--link", dir});
    EXPECT_EQ(run.err, "snctl: cannot make the link " + dir + ": it is a directory: File exists\n");

    // A link left dangling by a killed bridge is replaced.
    fs::create_symlink("/dev/pts/does-not-exist", link());
    startBridge();
    ASSERT_TRUE(client.writeAll({'x'}, 5s));
    EXPECT_EQ(instrument.readExactly(1, 10s), Bytes{'x'});
}

}  // namespace

// snctl's "port P ..." commands against the emulator: register writes of
// line settings and control, bytes in and out of a virtual port.
#include "snctlFixture.h"

using sntest::RunResult;

namespace {

using Bytes = std::vector<uint8_t>;
using Values = std::vector<uint16_t>;

// The last logged write to `address` of function `function`.
const snsim::Transaction* lastWrite(const std::vector<snsim::Transaction>& log, int function,
                                    int address) {
    const snsim::Transaction* found = nullptr;
    for (const auto& t : log) {
        if (t.function == function && t.address == address) found = &t;
    }
    return found;
}

TEST_F(SnctlTest, InitWritesSpeedQuarterAndFrameFormatOfThePort) {
    RunResult run = snctl({"port", "1", "init", "9600", "e", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "port: 1\nbaud: 9600\nformat: 8E2\n");
    EXPECT_EQ(sim.reg(511), 2400);
    EXPECT_EQ(sim.reg(512), 11);
    EXPECT_TRUE(sim.coil(5)) << "opening the port switches its transmit enable on";

    run = snctl({"port", "2", "init", "262143"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(sim.reg(767), 65535);
    EXPECT_EQ(sim.reg(768), 8);
    // A quarter beyond 16 bits would reach the node as another speed.
    run = snctl({"port", "2", "init", "262144"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("port speed must be a number from 4 to 262143"), std::string::npos)
        << run.err;
    EXPECT_EQ(sim.reg(767), 65535);
    // A quarter of 0 would stop the line.
    run = snctl({"port", "1", "init", "3"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "snctl: port speed must be a number from 4 to 262143, not '3'\n");
    EXPECT_EQ(sim.reg(511), 2400);
    EXPECT_EQ(snctl({"port", "0", "init", "9600", "X"}).status, 2);
    EXPECT_EQ(snctl({"port", "0", "init", "9600", "N", "3"}).status, 2);
    EXPECT_EQ(snctl({"port", "3", "init", "9600"}).status, 2);
}

TEST_F(SnctlTest, SendDecodesEscapesAndPutsEveryByteOnTheLine) {
    const RunResult run = snctl({"port", "1", "send", "a\\x00\\xff\\r\\n\\\\z"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "port: 1\nsent: 7\n");
    EXPECT_EQ(collectPortOutput(1, 7), (Bytes{'a', 0x00, 0xff, '\r', '\n', '\\', 'z'}));
    const auto log = sim.log();
    const snsim::Transaction* write = lastWrite(log, 23, 256 + 390);
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(write->readAddress, 256 + 386);
    EXPECT_EQ(write->values, (Values{7, 0x6100, 0xFF0D, 0x0A5C, 0x7A00}));

    EXPECT_EQ(snctl({"port", "1", "send", "bad\\q"}).status, 2);
    EXPECT_EQ(snctl({"port", "1", "send", "short\\x4"}).status, 2);
    EXPECT_EQ(snctl({"port", "1", "send", "trailing\\"}).status, 2);
}

TEST_F(SnctlTest, SendThatTheNodeDoesNotTakeFailsWithTheCount) {
    sim.setAcceptLimit(0, 0);
    const RunResult run = snctl({"port", "0", "send", "hello"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snctl: virtual port 0 took only 0 of 5 bytes\n");
}

TEST_F(SnctlTest, RecvPrintsWhatThePortReceivedRawOrAsJson) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    sim.feedPort(2, all);
    RunResult run = snctl({"port", "2", "recv"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string(all.begin(), all.end()));
    EXPECT_EQ(sim.rxPending(2), 0u);

    sim.feedPort(2, Bytes{'o', 'k', '"', '\n', 0xE9});
    run = snctl({"port", "2", "recv"}, {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        run.out,
        "{\"port\":2,\"count\":5,\"data\":\"ok\\\"\\u000a\\u00e9\",\"data_hex\":\"6f6b220ae9\"}\n");

    // Every byte value: printable ASCII as itself (quote and backslash
    // escaped), any other byte as the one code point \u00XX.
    std::string escaped, hex;
    for (int b = 0; b < 256; ++b) {
        char code[8];
        if (b == '"' || b == '\\') escaped += '\\';
        if (b >= 0x20 && b < 0x7f) {
            escaped += static_cast<char>(b);
        } else {
            std::snprintf(code, sizeof code, "\\u%04x", b);
            escaped += code;
        }
        std::snprintf(code, sizeof code, "%02x", b);
        hex += code;
    }
    sim.feedPort(2, all);
    run = snctl({"port", "2", "recv"}, {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "{\"port\":2,\"count\":256,\"data\":\"" + escaped + "\",\"data_hex\":\"" +
                           hex + "\"}\n");
    for (const char* part :
         {"\\u0007\\u0008\\u0009\\u000a\\u000b\\u000c\\u000d\\u000e", "\\u001f !\\\"#", "./0",
          "Z[\\\\]^", "}~\\u007f\\u0080", "\\u00fe\\u00ff\",\"data_hex\":\"000102"}) {
        EXPECT_NE(run.out.find(part), std::string::npos) << part;
    }

    // With a time, bytes arriving during it are collected too.
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        sim.feedPort(2, Bytes{'l', 'a', 't', 'e'});
    });
    run = snctl({"port", "2", "recv", "1000"});
    late.join();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "late");
}

// The library's drain cannot say why it returned; snctl says what it knows.
TEST_F(SnctlTest, DrainSaysWhatHappened) {
    RunResult run = snctl({"port", "1", "drain", "300"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "port: 1\ndrain: nothing left to send\n");
    sim.setReg(256 + 255, 0);  // the line stops: what the node holds stays
    ASSERT_EQ(snctl({"port", "1", "send", "held"}).status, 0);
    run = snctl({"port", "1", "drain", "300"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "port: 1\ndrain: waited up to 300 ms, may still be sending\n");
    run = snctl({"port", "0", "drain"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "port: 0\ndrain: nothing to wait on: port 0 has no busy flag\n");
}

TEST_F(SnctlTest, LineControlWritesTheControlRegisters) {
    sim.setReg(256 + 259, 0x0015);
    RunResult run = snctl({"port", "1", "errors"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "port: 1\nerror flags: 0x0015\n");
    ASSERT_EQ(snctl({"port", "1", "clear-errors", "0x05"}).status, 0);
    ASSERT_EQ(snctl({"port", "1", "iflush"}).status, 0);
    ASSERT_EQ(snctl({"port", "1", "oflush"}).status, 0);
    ASSERT_EQ(snctl({"port", "1", "break", "20"}).status, 0);
    ASSERT_EQ(snctl({"port", "1", "drain", "100"}).status, 0);
    EXPECT_EQ(snctl({"port", "1", "clear-errors", "32"}).status, 2);

    const auto log = sim.log();
    std::vector<std::pair<int, uint16_t>> writes;
    for (const auto& t : log) {
        if (t.function == 6 && t.address != 21) writes.emplace_back(t.address, t.values.at(0));
    }
    EXPECT_EQ(
        writes,
        (std::vector<std::pair<int, uint16_t>>{
            {256 + 257, 5}, {256 + 257, 32}, {256 + 387, 32}, {256 + 388, 1}, {256 + 388, 0}}));
    EXPECT_NE(lastWrite(log, 3, 254), nullptr) << "drain reads the busy flags";
}

// Bytes taken from the node before it went silent are shown, then the
// failure: never dropped with it.
TEST_F(SnctlTest, DeadNodeDuringReceiveIsReportedAfterWhatArrived) {
    for (const bool json : {false, true}) {
        sim.setFault(snsim::Fault::None);
        sim.clearLog();
        sim.feedPort(0, {'b', 'e', 'f', 'o', 'r', 'e'});
        // Silenced once snctl has fetched them, so the port did open.
        std::thread silence([this] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while ((lastWrite(sim.log(), 3, 262) == nullptr || sim.rxPending(0) != 0) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            sim.setFault(snsim::Fault::NoAnswer);
        });
        RunResult run = json ? snctl({"port", "0", "recv", "3000"}, {"--json"})
                             : snctl({"port", "0", "recv", "3000"});
        silence.join();
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "snctl: cannot read virtual port 0: no node answers at slave 1\n");
        EXPECT_EQ(run.out, json ? "{\"port\":0,\"count\":6,\"data\":\"before\",\"data_hex\":"
                                  "\"6265666f7265\"}\n"
                                : "before");
    }

    const RunResult run = snctl({"port", "0", "recv"});
    EXPECT_EQ(run.err, "snctl: cannot open virtual port 0: no node answers at slave 1\n");
}

}  // namespace

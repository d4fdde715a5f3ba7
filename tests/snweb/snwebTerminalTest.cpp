// A terminal page's WebSocket against the real snweb, snbusd and the
// emulated node, with an instrument of the test's own on port 1: a paste
// arrives whole, what a page typed leaves with it, and a read-only page
// leaves the port as it found it.
#include "serialClient.h"
#include "snwebFixture.h"

#include <unistd.h>

#include <iostream>
#include <regex>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr int kFastLine = 230400;

std::string text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return done();
}

class SnwebTerminalTest : public SnwebTest {
protected:
    SnwebTerminalTest()
        : SnwebTest([](snsim::Options& o) { o.ports[1].kind = snsim::Attachment::Kind::Pty; }) {}

    // A page on port 1 of "alpha", told `greeting`: its socket.
    int openPage(const std::string& greeting) {
        auto [fd, got] =
            openSocket(webPort, upgrade("/ws/node/alpha/port/1", host() + cookie() + ownOrigin()));
        EXPECT_TRUE(has(got, " 101 ")) << got;
        readUntil(
            fd, got, [&](const std::string& g) { return has(g, greeting); }, 5s);
        EXPECT_TRUE(has(got, greeting)) << got;
        return fd;
    }
    // The port's line, as the page's line controls set it.
    void setLine(int speed) {
        const std::string line = R"({"port":1,"do":"line","speed":)" + std::to_string(speed) +
                                 R"(,"parity":"N","stop":1})";
        ASSERT_EQ(command("alpha", "port", line).status, 202u);
    }
    void setFastLine() {
        setLine(kFastLine);
        ASSERT_TRUE(eventually([&] { return sim.reg(256 + 255) == kFastLine / 4; }, 10s));
    }
    bool logged(const std::string& part) {
        return eventually([&] { return has(web.errorsSoFar(), part); }, 10s);
    }
};

TEST_F(SnwebTerminalTest, APasteIsTakenWholeUpToTheBoundAndALargerOneIsRefusedAloud) {
    startWeb();
    sntest::SerialClient instrument;
    ASSERT_TRUE(instrument.open(sim.instrumentPath(1)));
    const int page = openPage("{\"typing\":true}");
    setFastLine();
    std::string paste(6000, ' ');
    for (std::size_t i = 0; i < paste.size(); ++i) paste[i] = static_cast<char>('a' + i % 26);
    sntest::sendAll(page, maskedBinary(paste));
    const std::string got = text(instrument.readExactly(6000, 5s));
    std::cout << "a 6,000-byte message: " << got.size() << " bytes at the instrument\n";
    EXPECT_EQ(got, paste);

    const std::string largest(65536, 'z');
    sntest::sendAll(page, maskedBinary(largest));
    EXPECT_EQ(text(instrument.readExactly(largest.size(), 5s)), largest);
    EXPECT_TRUE(instrument.readExactly(1, 500ms).empty());

    sntest::sendAll(page, maskedBinary(std::string(65537, '!')));
    std::string closing;
    readUntil(
        page, closing, [](const std::string& g) { return has(g, "message over 65536 bytes"); }, 5s);
    EXPECT_TRUE(has(closing, "message over 65536 bytes")) << "no reason on the socket";
    EXPECT_TRUE(instrument.readExactly(1, 1s).empty()) << "a refused message was cut, not refused";
    ::close(page);
}

// The node takes nothing while a page types 60,000 bytes and asks for
// another line; the page leaves, another comes, the node takes again.
TEST_F(SnwebTerminalTest, WhatAPageTypedAndTheNodeDidNotTakeLeavesWithThePage) {
    startWeb();
    sntest::SerialClient instrument;
    ASSERT_TRUE(instrument.open(sim.instrumentPath(1)));
    const int page = openPage("{\"typing\":true}");
    setFastLine();
    sim.setAcceptLimit(1, 0);
    for (int i = 0; i < 15; ++i) sntest::sendAll(page, maskedBinary(std::string(4000, 'o')));
    setLine(19200);
    ASSERT_TRUE(logged("port 1 line 19200 N1"));
    std::this_thread::sleep_for(500ms);
    ::close(page);

    ASSERT_TRUE(logged("typed bytes the node had not taken dropped")) << web.errorsSoFar();
    std::smatch count;
    const std::string log = web.errorsSoFar();
    ASSERT_TRUE(std::regex_search(log, count, std::regex("stopped: ([0-9]+) typed bytes")));
    std::cout << "typed, not taken, page closed: " << count[1] << " bytes dropped\n";
    EXPECT_EQ(count[1], "60000");
    EXPECT_TRUE(logged("port 1 line 19200 N1: not set, its terminal closed first"));

    const int next = openPage("{\"typing\":true}");
    sim.setAcceptLimit(1, -1);
    sntest::sendAll(next, maskedBinary("fresh\r"));
    const std::string got = text(instrument.readExactly(60006, 2s));
    EXPECT_EQ(got.substr(0, 40), "fresh\r") << got.size() << " bytes came";
    EXPECT_EQ(sim.reg(256 + 255), kFastLine / 4) << "a line change of the page that left was set";
    ::close(next);
}

// Port 1 in use by another master (its transmit enable on, bytes waiting
// for it): a read-only page comes and goes.
TEST_F(SnwebTerminalTest, AReadOnlyPageOpensNoPortAndTakesNoByte) {
    startWeb({"--read-only"});
    sim.setCoil(5, true);
    sim.feedPort(1, {'f', 'o', 'r', ' ', 'y', 'o', 'u'});
    const auto coils = [&] {
        return std::to_string(sim.coil(4)) + std::to_string(sim.coil(5)) +
               std::to_string(sim.coil(6));
    };
    const std::string before = coils();
    const std::size_t waiting = sim.rxPending(1);
    sim.clearLog();
    const int page = openPage("{\"reading\":false}");
    std::this_thread::sleep_for(1500ms);  // many poller rounds
    ::close(page);
    ASSERT_TRUE(logged("terminal on port 1 closed"));
    std::this_thread::sleep_for(1s);
    std::cout << "coils 4-6: " << before << " then " << coils()
              << "; port 1's receive FIFO: " << waiting << " then " << sim.rxPending(1)
              << " bytes\n";
    EXPECT_EQ(coils(), before);
    EXPECT_EQ(sim.rxPending(1), waiting);
    for (const snsim::Transaction& t : sim.log()) {
        EXPECT_FALSE(t.function == 5 || t.function == 15) << "coil " << t.address << " written";
        EXPECT_FALSE(t.address >= 255) << "port register " << t.address << " used";
    }
}

}  // namespace

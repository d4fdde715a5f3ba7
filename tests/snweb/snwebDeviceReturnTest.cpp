// A node's device that goes away and comes back under snweb, as a USB
// adapter pulled out and plugged in again: the emulator stopped (its link
// and the pty behind it removed) and started again on the same link.  The
// overview shows the node down meanwhile (a switch fails aloud), and once
// the device is back it shows it up and an open terminal page's bytes flow
// again, with no restart.  On the device snweb says so in one line; through
// snbusd the daemon does.
#include "snwebFixture.h"

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SnwebDeviceReturnTest : public SnwebTest {
protected:
    // Port 1 of "alpha" a loopback: what a page types comes back to it.
    SnwebDeviceReturnTest()
        : SnwebTest(
              [](snsim::Options& o) { o.ports[1].kind = snsim::Attachment::Kind::Loopback; }) {}

    void TearDown() override {
        if (overview >= 0) ::close(overview);
        if (page >= 0) ::close(page);
        SnwebTest::TearDown();
    }

    void openPages() {
        const std::string headers = host() + cookie() + ownOrigin();
        std::string got;
        std::tie(overview, got) = openSocket(webPort, upgrade("/ws", headers));
        ASSERT_TRUE(has(got, " 101 ")) << got;
        ASSERT_TRUE(nodesShown(true)) << web.errorsSoFar();
        std::tie(page, got) = openSocket(webPort, upgrade("/ws/node/alpha/port/1", headers));
        ASSERT_TRUE(has(got, " 101 ")) << got;
        ASSERT_TRUE(echoed("ping")) << web.errorsSoFar();
    }
    // Reads the overview's messages until one shows both nodes up or down.
    bool nodesShown(bool up) {
        const std::string state = up ? "true" : "false";
        const auto shown = [&](const std::string& g) {
            return has(g, "\"slave\":1,\"up\":" + state + "}") &&
                   has(g, "\"slave\":2,\"up\":" + state + "}");
        };
        std::string got;
        readUntil(overview, got, shown, 15s);
        return shown(got);
    }
    // Types `word` on the terminal page and reads until the loopback's
    // answer comes back to it.
    bool echoed(const std::string& word) {
        sntest::sendAll(page, maskedBinary(word));
        std::string got;
        const auto shown = [&](const std::string& g) { return has(binaryPayloads(g), word); };
        readUntil(page, got, shown, 15s);
        return shown(got);
    }

    int overview = -1;
    int page = -1;
};

TEST_F(SnwebDeviceReturnTest, OnTheDeviceTheNodeShowsDownAndItsTerminalRelaysAgain) {
    // The device is snweb's alone: the daemon leaves it first.
    daemon.signal(SIGTERM);
    ASSERT_EQ(daemon.wait(10s).status, 0);
    startWeb({}, link);
    ASSERT_NO_FATAL_FAILURE(openPages());

    const std::string gone =
        "snweb: node alpha: " + link + " is gone; waiting for it to come back\n";
    sim.stop();
    const auto pulled = Clock::now();
    EXPECT_TRUE(nodesShown(false)) << web.errorsSoFar();
    const double shownDown = secondsSince(pulled);
    // A switch meanwhile fails aloud on the node's page.
    ASSERT_EQ(command("alpha", "power", R"({"output":3,"on":true})").status, 202u);
    const auto [nodePage, head] =
        openSocket(webPort, upgrade("/ws/node/alpha", host() + cookie() + ownOrigin()));
    const std::string failed = "\"lastAction\":\"power 3 on: failed (" + link + " is not open)\"";
    std::string told = head;  // its first message may come with the handshake
    readUntil(
        nodePage, told, [&](const std::string& g) { return has(g, failed); }, 5s);
    ::close(nodePage);
    EXPECT_TRUE(has(told, failed)) << told;
    std::this_thread::sleep_for(2500ms);  // a few tries of the missing device
    EXPECT_EQ(count(web.errorsSoFar(), gone), 1) << web.errorsSoFar();
    EXPECT_EQ(count(web.errorsSoFar(), "not answering"), 0) << "one line, not one per failure";

    ASSERT_TRUE(sim.start());
    const auto back = Clock::now();
    EXPECT_TRUE(nodesShown(true)) << web.errorsSoFar();
    const double shownUp = secondsSince(back);
    EXPECT_TRUE(echoed("pong")) << "the same page, relayed again\n" << web.errorsSoFar();
    const double relaying = secondsSince(back);
    EXPECT_EQ(count(web.errorsSoFar(), "snweb: node alpha: " + link + " is back\n"), 1)
        << web.errorsSoFar();
    EXPECT_EQ(count(web.errorsSoFar(), gone), 1);
    std::cout << "on the device: shown down " << shownDown << " s after it went, up " << shownUp
              << " s after it came back, the terminal's bytes back after " << relaying << " s\n";
    EXPECT_TRUE(web.running());
}

TEST_F(SnwebDeviceReturnTest, ThroughTheDaemonTheNodeShowsDownAndItsTerminalRelaysAgain) {
    startWeb();
    ASSERT_NO_FATAL_FAILURE(openPages());

    sim.stop();  // the daemon answers 0x0A meanwhile
    const auto pulled = Clock::now();
    EXPECT_TRUE(nodesShown(false)) << web.errorsSoFar();
    const double shownDown = secondsSince(pulled);
    std::this_thread::sleep_for(1500ms);

    ASSERT_TRUE(sim.start());
    const auto back = Clock::now();
    EXPECT_TRUE(nodesShown(true)) << web.errorsSoFar() << daemonLog();
    const double shownUp = secondsSince(back);
    EXPECT_TRUE(echoed("pong")) << "the same page, relayed again\n" << web.errorsSoFar();
    const double relaying = secondsSince(back);
    EXPECT_EQ(count(web.errorsSoFar(), " is gone"), 0) << "the daemon's device, not snweb's";
    std::cout << "through snbusd: shown down " << shownDown << " s after it went, up " << shownUp
              << " s after it came back, the terminal's bytes back after " << relaying << " s\n";
    EXPECT_TRUE(web.running());
}

}  // namespace

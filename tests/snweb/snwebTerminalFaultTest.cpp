// A terminal page of snweb while the node answers 3 % of its port's data
// transactions late: numbered lines both ways at once over the page's
// WebSocket, on the device and through snbusd, every byte once and in
// order.
#include "numberedStream.h"
#include "portFaults.h"
#include "serialClient.h"
#include "snwebFixture.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr std::size_t kLines = 1200;  // 8,400 bytes each way
constexpr int kPortBaud = 38400;
constexpr auto kStall = 6s;  // longer than two late answers in a row

class SnwebTerminalFaultTest : public SnwebTest {
protected:
    // An instrument on port 1, and a receive buffer that holds a whole
    // stream: what goes missing went missing between the node and the page.
    SnwebTerminalFaultTest()
        : SnwebTest([](snsim::Options& o) {
              o.ports[1].kind = snsim::Attachment::Kind::Pty;
              o.rxFifoSize = 64 * 1024;
          }) {}

    // Both streams between a page on port 1 of "alpha" and the instrument,
    // under late port answers; each must arrive whole.
    void expectBothStreamsWhole() {
        sim.setRandomFaults(sntest::latePortAnswers());
        const std::string file = dir + "/received";
        sntest::CapturedProcess page;
        ASSERT_TRUE(
            page.start({"/usr/bin/python3", TERMINAL_STREAM_SCRIPT, std::to_string(webPort), token,
                        "alpha", "1", std::to_string(kPortBaud), std::to_string(kLines), file,
                        std::to_string(std::chrono::duration<double>(kStall).count())}));
        // The instrument starts once the page is there with its line.
        const auto deadline = std::chrono::steady_clock::now() + 25s;
        const auto ready = [&] {
            return page.outputSoFar().find("ok open") != std::string::npos &&
                   sim.reg(256 + 255) == kPortBaud / 4;
        };
        while (!ready() && page.running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(ready()) << page.outputSoFar() << page.errorsSoFar() << web.errorsSoFar();
        sntest::SerialClient instrument;
        ASSERT_TRUE(instrument.open(sim.instrumentPath(1)));
        const sntest::Exchanged far = sntest::exchangeNumbered(instrument, kLines, kStall);
        // The page stays open until then: a page that leaves drops what it
        // typed and the node has not yet taken.
        std::ofstream(file + ".done").put('\n');
        const sntest::RunResult ended = page.wait(60s);
        EXPECT_EQ(ended.status, 0) << ended.out << ended.err;
        EXPECT_NE(ended.out.find("ok numbered"), std::string::npos) << ended.out;
        EXPECT_TRUE(far.sentAll) << "the instrument's writing stalled";
        EXPECT_GE(sim.injectedFaults().late, 2u);
        std::ifstream in(file, std::ios::binary);
        const Bytes atPage{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const sntest::StreamCheck toNode = sntest::checkNumbered(far.received, kLines);
        const sntest::StreamCheck fromNode = sntest::checkNumbered(atPage, kLines);
        EXPECT_TRUE(toNode.whole()) << "typed: " << toNode.describe() << "\n" << web.errorsSoFar();
        EXPECT_TRUE(fromNode.whole()) << "shown: " << fromNode.describe() << "\n"
                                      << web.errorsSoFar();
        EXPECT_EQ(sim.reg(256 + 259) & 0x0002, 0) << "receive overrun";
    }
};

TEST_F(SnwebTerminalFaultTest, LatePortAnswersOnTheDeviceLoseAndRepeatNothing) {
    // The device is snweb's alone: the daemon leaves it first.
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(10s).status, 0);
    startWeb({}, link);
    expectBothStreamsWhole();
}

TEST_F(SnwebTerminalFaultTest, LatePortAnswersThroughTheDaemonLoseAndRepeatNothing) {
    // The daemon with its own timeout, the library's 600 ms.
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(10s).status, 0);
    ASSERT_TRUE(daemon.start(SNBUSD_PATH, link)) << daemonLog();
    startWeb();
    expectBothStreamsWhole();
}

}  // namespace

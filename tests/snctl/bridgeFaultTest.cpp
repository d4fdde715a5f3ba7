// snctl bridge while its node fails mid-stream: numbered lines both ways at
// once, through the pty link and through --listen with pyserial's RFC 2217
// client, on the device and through snbusd.  Every byte arrives once and in
// order, or the bridge's final counts say what could not be known and the
// bytes lost or repeated stay within them.
#include "bridgeFixture.h"
#include "busDaemonProcess.h"
#include "numberedStream.h"
#include "portFaults.h"

#include <fstream>
#include <iterator>
#include <regex>

namespace {

using namespace std::chrono_literals;
using bridgetest::Bytes;
using sntest::StreamCheck;

constexpr std::size_t kLines = 1200;  // 8,400 bytes each way
constexpr int kPortBaud = 38400;
constexpr long long kBlock = 240;  // most bytes one receive block carries

// The same share as sntest::latePortAnswers, torn instead of late.
snsim::RandomFaults tornPortAnswers() {
    snsim::RandomFaults faults;
    faults.torn = 0.03;
    faults.seed = 3;
    faults.portsOnly = true;
    return faults;
}

struct Outcome {
    StreamCheck toNode, fromNode;
    long long unknownToNode = -1, unknownFromNode = -1;  // -1: not in the final object
    std::string output;                                  // the bridge's, for the messages
    snsim::InjectedFaults injected;
};

long long countIn(const std::string& json, const std::string& name) {
    std::smatch found;
    return std::regex_search(json, found, std::regex("\"" + name + "\":([0-9]+)"))
               ? std::stoll(found[1])
               : -1;
}

// Nothing unknown, nothing lost, nothing repeated.
void expectWhole(const Outcome& o) {
    EXPECT_EQ(o.unknownToNode, 0) << o.output;
    EXPECT_EQ(o.unknownFromNode, 0) << o.output;
    EXPECT_TRUE(o.toNode.whole()) << "to the node: " << o.toNode.describe() << "\n" << o.output;
    EXPECT_TRUE(o.fromNode.whole()) << "from the node: " << o.fromNode.describe() << "\n"
                                    << o.output;
}

// A chunk of unknown fate may have reached the node once or not at all, and
// the bytes of a receive block whose answer never came are gone; nothing
// else may be missing or twice, and nothing is ever reordered.
void expectWithinUnknown(const Outcome& o) {
    ASSERT_GE(o.unknownToNode, 0) << "no unknown counts in the final object: " << o.output;
    ASSERT_GE(o.unknownFromNode, 0) << o.output;
    EXPECT_LE(static_cast<long long>(o.toNode.lostBytes + o.toNode.addedBytes), o.unknownToNode)
        << "to the node: " << o.toNode.describe();
    EXPECT_EQ(o.fromNode.addedBytes, 0u) << "from the node: " << o.fromNode.describe();
    EXPECT_LE(static_cast<long long>(o.fromNode.lostBytes), kBlock * o.unknownFromNode)
        << "from the node: " << o.fromNode.describe();
    EXPECT_EQ(o.toNode.outOfOrder + o.fromNode.outOfOrder, 0u);
}

class BridgeFaultTest : public BridgeTest {
protected:
    // The node's receive buffer holds a whole stream, so no stall of the
    // line can overrun it: what goes missing went missing in the relay.
    BridgeFaultTest() : BridgeTest([](snsim::Options& o) { o.rxFifoSize = 64 * 1024; }) {}

    // The daemon between the bridge and the node, with its own timeout.
    std::string throughDaemon() {
        EXPECT_TRUE(daemon.start(SNBUSD_PATH, sim.devicePath())) << daemon.log();
        return daemon.tcpName();
    }

    // Both streams through the pty link of a bridge on `node`, `meanwhile`
    // running beside them; the receiving ends wait `stall` for more.
    Outcome throughLink(
        const std::string& node, std::chrono::milliseconds stall,
        const std::function<void()>& meanwhile = [] {}) {
        startBridge({"-b", std::to_string(kPortBaud)}, {"--json"}, node);
        sntest::Exchanged local;
        std::thread localEnd([&] { local = sntest::exchangeNumbered(client, kLines, stall); });
        std::thread faults(meanwhile);
        const sntest::Exchanged far = sntest::exchangeNumbered(instrument, kLines, stall);
        localEnd.join();
        faults.join();
        EXPECT_TRUE(local.sentAll && far.sentAll)
            << "a writer stalled for " << stall.count() << " ms";
        return finish(far.received, local.received);
    }

    // The same with pyserial's client on the served bridge.
    Outcome throughPyserial(const std::string& node, std::chrono::milliseconds stall) {
        const uint16_t tcpPort = startServedBridge({}, {"--json"}, node);
        const std::string file = dir + "/received";
        sntest::CapturedProcess pyserial;
        EXPECT_TRUE(
            pyserial.start({"/usr/bin/python3", RFC2217_CLIENT, "numbered", std::to_string(tcpPort),
                            std::to_string(kLines), std::to_string(kPortBaud), file,
                            std::to_string(std::chrono::duration<double>(stall).count())}));
        // The instrument starts once the client is there with its line:
        // what a bridge without a client reads is not the client's.
        EXPECT_TRUE(bridgetest::waitUntil(
            [&] {
                return pyserial.outputSoFar().find("ok open") != std::string::npos &&
                       sim.reg(256 * bridgetest::kPort + 255) == kPortBaud / 4;
            },
            25s))
            << pyserial.outputSoFar() << pyserial.errorsSoFar();
        const sntest::Exchanged far = sntest::exchangeNumbered(instrument, kLines, stall);
        const sntest::RunResult python = pyserial.wait(60s);
        EXPECT_EQ(python.status, 0) << python.out << python.err;
        EXPECT_TRUE(far.sentAll) << "the instrument's writing stalled";
        std::ifstream in(file, std::ios::binary);
        const Bytes local{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        return finish(far.received, local);
    }

    // The faults end before the bridge does, and it stops once it has seen
    // the node answer again: a fault in its last poll is not a node lost.
    Outcome finish(const Bytes& atInstrument, const Bytes& atClient) {
        const snsim::InjectedFaults injected = sim.injectedFaults();
        sim.setRandomFaults({});
        sim.setFault(snsim::Fault::None);
        EXPECT_TRUE(bridgetest::waitUntil(
            [&] {
                const std::string log = bridge.errorsSoFar();
                const auto down = log.rfind("not answering");
                return down == std::string::npos ||
                       log.find("answering again", down) != std::string::npos;
            },
            5s));
        const sntest::RunResult end = stopBridge();
        EXPECT_EQ(end.status, 0) << end.out << end.err;
        EXPECT_EQ(sim.reg(256 * bridgetest::kPort + 259) & 0x0002, 0) << "receive overrun";
        const std::string last = end.out.substr(std::min(end.out.rfind('{'), end.out.size()));
        return {sntest::checkNumbered(atInstrument, kLines),
                sntest::checkNumbered(atClient, kLines),
                countIn(last, "unknown_to_node"),
                countIn(last, "unknown_from_node"),
                end.out + end.err,
                injected};
    }

    sntest::BusDaemonProcess daemon;
};

TEST(NumberedStream, CountsExactlyWhatWasLostRepeatedOrGarbled) {
    const Bytes sent = sntest::numberedLines(20);
    EXPECT_TRUE(sntest::checkNumbered(sent, 20).whole());
    EXPECT_TRUE(sntest::endsNumbered(sent, 20));

    Bytes cut = sent;
    cut.erase(cut.begin() + 25, cut.begin() + 37);  // mid-line, twelve bytes
    StreamCheck check = sntest::checkNumbered(cut, 20);
    EXPECT_EQ(check.lostBytes, 12u);
    EXPECT_EQ(check.addedBytes, 0u);
    EXPECT_EQ(check.lost, 3u) << check.describe();
    EXPECT_EQ(check.garbled, 1u);

    Bytes twice = sent;
    twice.insert(twice.begin() + 70, sent.begin() + 56, sent.begin() + 70);
    check = sntest::checkNumbered(twice, 20);
    EXPECT_EQ(check.addedBytes, 14u);
    EXPECT_EQ(check.repeated, 2u);
    EXPECT_EQ(check.outOfOrder, 0u);

    Bytes swapped = sent;
    std::swap_ranges(swapped.begin() + 7, swapped.begin() + 14, swapped.begin() + 14);
    check = sntest::checkNumbered(swapped, 20);
    EXPECT_EQ(check.outOfOrder, 1u);
    EXPECT_FALSE(check.whole());
    EXPECT_FALSE(sntest::endsNumbered(Bytes(sent.begin(), sent.end() - 7), 20));
}

TEST_F(BridgeFaultTest, LatePortAnswersOnTheDeviceLoseAndRepeatNothing) {
    sim.setRandomFaults(sntest::latePortAnswers());
    const Outcome o = throughLink(sim.devicePath(), 6s);
    EXPECT_GE(o.injected.late, 2u);
    expectWhole(o);
}

TEST_F(BridgeFaultTest, LatePortAnswersThroughTheDaemonLoseAndRepeatNothing) {
    const std::string node = throughDaemon();
    sim.setRandomFaults(sntest::latePortAnswers());
    const Outcome o = throughLink(node, 6s);
    EXPECT_GE(o.injected.late, 2u);
    expectWhole(o);
}

// Another slave's frame before every answer for a second and a half, then
// 3 % of the port's answers torn: on the device, then through the daemon.
TEST_F(BridgeFaultTest, AnotherSlavesFramesThenTornAnswers) {
    for (const bool viaDaemon : {false, true}) {
        SCOPED_TRACE(viaDaemon ? "through the daemon" : "on the device");
        const std::string node = viaDaemon ? throughDaemon() : sim.devicePath();
        sim.setRandomFaults(tornPortAnswers());
        sim.setFault(snsim::Fault::OtherSlaveFirst);
        const Outcome o = throughLink(node, 6s, [this] {
            std::this_thread::sleep_for(1500ms);
            sim.setFault(snsim::Fault::None);
        });
        EXPECT_GE(o.injected.torn, 1u);
        expectWithinUnknown(o);
    }
}

TEST_F(BridgeFaultTest, ANodeSilentForFiveSecondsMidStream) {
    for (const bool viaDaemon : {false, true}) {
        SCOPED_TRACE(viaDaemon ? "through the daemon" : "on the device");
        const std::string node = viaDaemon ? throughDaemon() : sim.devicePath();
        const Outcome o = throughLink(node, 12s, [this] {
            std::this_thread::sleep_for(1s);
            sim.setFault(snsim::Fault::NoAnswer);
            std::this_thread::sleep_for(5s);
            sim.setFault(snsim::Fault::None);
        });
        EXPECT_NE(o.output.find("node not answering"), std::string::npos) << "not mid-stream";
        expectWithinUnknown(o);
    }
}

TEST_F(BridgeFaultTest, PyserialThroughTheServedBridgeUnderLateAnswers) {
    sim.setRandomFaults(sntest::latePortAnswers());
    const Outcome o = throughPyserial(sim.devicePath(), 6s);
    EXPECT_GE(o.injected.late, 2u);
    expectWhole(o);
}

TEST_F(BridgeFaultTest, PyserialThroughTheDaemonUnderLateAnswers) {
    const std::string node = throughDaemon();
    sim.setRandomFaults(sntest::latePortAnswers());
    const Outcome o = throughPyserial(node, 6s);
    EXPECT_GE(o.injected.late, 2u);
    expectWhole(o);
}

}  // namespace

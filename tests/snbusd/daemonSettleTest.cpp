// What the daemon does with a request the line gave up on: it settles it
// with a probe at once, so an answer that comes before the probe's is the
// client's own; one that comes later is never taken for another request's
// and is counted as an answer nobody took; and a request whose outcome the
// node never told is counted as such.  Probes are the daemon's own and
// count as neither.
#include <thread>

#include "daemonFixture.h"

namespace snbusd_test {

namespace {

const Bytes kWriteParameter{6, 0, 47, 0x01, 0xF4};  // register 47 := 500
constexpr auto npos = std::string::npos;

using Settled = TwoNodeDaemonTest;

// A node slower than --timeout (450 ms against 300) answers before the
// probe sent at once to settle the request is given up on (at 675 ms): the
// client gets the node's own answer, no 0x0B, a read its value and a port
// write the count the node took.  The probes, as late, are answered later
// still, and their answers are nobody's loss.
TEST_F(Settled, AnAnswerLateWithinTheSettlingIsTheClientsOwn) {
    startDaemon();  // --timeout 300
    sim.setReg(21, 3333);
    sim.setCoil(4, true);      // port 0 may transmit
    sim.setAcceptLimit(0, 3);  // and takes 3 bytes of a block
    sim.setFault(snsim::Fault::Delay, 450ms);
    const auto probeAnswered = 500ms;  // after the client's answer: the probe's comes and goes
    RawClient client(port);
    EXPECT_EQ(client.ask(1, {3, 0, 21, 0, 1}), words(3, {3333}));
    std::this_thread::sleep_for(probeAnswered);
    // Five bytes into port 0's transmit block (390: the count, then the
    // data), and its status (386: the count taken) read back.
    const Bytes portWrite{23, 0x01, 0x82, 0,   1,   0x01, 0x86, 0,   4,
                          8,  0,    5,    'h', 'e', 'l',  'l',  'o', 0};
    EXPECT_EQ(client.ask(1, portWrite), words(23, {3}));
    std::this_thread::sleep_for(probeAnswered);
    sim.setFault(snsim::Fault::None);
    EXPECT_EQ(client.ask(1, kReadSerial), words(3, {1111}));
    const auto taken = sim.takeAcceptedBytes(0);
    EXPECT_EQ(std::string(taken.begin(), taken.end()), "hel");
    const std::string page = metricsPage();
    EXPECT_NE(page.find("snbusd_transactions_total{slave=\"1\",outcome=\"ok\"} 3\n"), npos) << page;
    EXPECT_EQ(page.find("outcome=\"timeout\""), npos) << page;
    EXPECT_NE(page.find("snbusd_late_answers_total{slave=\"1\"}"), npos) << "it was late: " << page;
    EXPECT_EQ(page.find("snbusd_orphaned_answers_total{"), npos) << page;
    EXPECT_EQ(page.find("snbusd_unsettled_requests_total{"), npos) << page;
}

// An answer later than the settling (1100 ms against --timeout 400: the
// probe is given up on at 900 ms) costs its client a 0x0B.  It is never
// passed on as the next request's, though that one has the same slave,
// function and length and goes while it is still owed: a read of another
// shape goes first, and what comes before its answer is dropped.  The late
// answer is counted, as nobody's, and the daemon says how late it came.
TEST_F(Settled, AnAnswerLaterThanTheSettlingIsNobodysAndNeverTheNextOnes) {
    startDaemon({"--timeout", "400"});
    sim.setReg(21, 3333);
    sim.setFault(snsim::Fault::Delay, 1100ms);
    RawClient client(port);
    EXPECT_EQ(client.ask(1, {3, 0, 21, 0, 1}), (Bytes{0x83, 0x0B}));
    // The probe still waiting in the node is answered at once after the
    // late answer, as is everything after it.
    sim.setFault(snsim::Fault::None);
    sim.clearLog();
    EXPECT_EQ(client.ask(1, kReadSerial), words(3, {1111}));
    const auto traffic = lineTraffic();
    ASSERT_EQ(traffic.size(), 3u);
    EXPECT_EQ(traffic[0].function, 1) << "the probe that settled the first request: coil 0";
    EXPECT_EQ(traffic[1].function, 4) << "a probe no owed answer looks like: input register 0";
    EXPECT_EQ(traffic[1].address, 0);
    EXPECT_EQ(traffic[2].address, 15);
    const std::string page = metricsPage();
    EXPECT_NE(page.find("snbusd_late_answers_total{slave=\"1\"} 2\n"), npos)
        << "the request's and its probe's: " << page;
    EXPECT_NE(page.find("snbusd_orphaned_answers_total{slave=\"1\"} 1\n"), npos) << page;
    EXPECT_EQ(page.find("snbusd_unsettled_requests_total{"), npos) << page;
    const std::string log = daemonLog();
    const auto told = log.find("slave 1 answers late: its answers come ");
    ASSERT_NE(told, npos) << log;
    EXPECT_NE(log.find(" ms after the timeout; raise --timeout\n", told), npos) << log;
    // Another slave's frame in front of the answer is passed over.
    sim.setFault(snsim::Fault::OtherSlaveFirst);
    EXPECT_EQ(client.ask(2, kReadSerial), words(3, {2222}));
    sim.setFault(snsim::Fault::None);
}

// What the node did with a write given up on: known when it answers a
// later request without having answered that one (it never took it);
// unknown when its answer came garbled, or when it stayed silent past the
// debt's life (ten timeouts, at least 10 s).  The unknown ones are counted
// by slave; the probes sent meanwhile, garbled and silent too, are not.
TEST_F(Settled, AWriteWhoseOutcomeStaysUnknownIsCounted) {
    startDaemon();  // --timeout 300
    RawClient client(port);
    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_EQ(client.ask(1, kWriteParameter), (Bytes{0x86, 0x0B}));
    sim.setFault(snsim::Fault::None);
    EXPECT_EQ(client.ask(1, kReadSerial), words(3, {1111}));
    EXPECT_NE(sim.reg(47), 500) << "the node did not take it";
    EXPECT_EQ(metricsPage().find("snbusd_unsettled_requests_total{"), npos)
        << "not taken, so not done: " << metricsPage();

    sim.setFault(snsim::Fault::TornAnswer);
    EXPECT_EQ(client.ask(1, kWriteParameter), (Bytes{0x86, 0x0B}));
    sim.setFault(snsim::Fault::None);
    EXPECT_EQ(client.ask(1, kReadSerial), words(3, {1111}));
    EXPECT_EQ(sim.reg(47), 500) << "the node did it";
    EXPECT_NE(metricsPage().find("snbusd_unsettled_requests_total{slave=\"1\"} 1\n"), npos)
        << metricsPage();

    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_EQ(client.ask(2, kWriteParameter), (Bytes{0x86, 0x0B}));
    std::this_thread::sleep_for(10500ms);
    sim.setFault(snsim::Fault::None);
    EXPECT_EQ(client.ask(2, kReadSerial), words(3, {2222}));
    const std::string page = metricsPage();
    EXPECT_NE(page.find("snbusd_unsettled_requests_total{slave=\"1\"} 1\n"), npos) << page;
    EXPECT_NE(page.find("snbusd_unsettled_requests_total{slave=\"2\"} 1\n"), npos) << page;
    EXPECT_EQ(page.find("snbusd_orphaned_answers_total{"), npos) << page;
}

}  // namespace

}  // namespace snbusd_test

// snbusd against raw Modbus TCP clients: framing, order, the node's faults
// as exceptions, the device going and coming back, hostile input, limits,
// access control and metrics.
#include <thread>

#include "daemonFixture.h"

namespace snbusd_test {

namespace {

using Daemon = TwoNodeDaemonTest;

TEST_F(Daemon, PipelinedRequestsComeBackInOrderWithTheirIdsAndUnits) {
    startDaemon();
    RawClient client(port);
    ASSERT_TRUE(client.connected());
    Bytes burst;
    for (const auto& [id, unit] : {std::pair<uint16_t, uint8_t>{10, 1}, {11, 2}, {12, 1}}) {
        const Bytes one = frame(id, unit, kReadSerial);
        burst.insert(burst.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(client.send(burst));
    EXPECT_EQ(client.receive(), frame(10, 1, words(3, {1111})));
    EXPECT_EQ(client.receive(), frame(11, 2, words(3, {2222})));
    EXPECT_EQ(client.receive(), frame(12, 1, words(3, {1111})));
    const auto traffic = lineTraffic();
    ASSERT_EQ(traffic.size(), 3u);
    EXPECT_EQ(traffic[1].slave, 2);
    EXPECT_EQ(traffic[1].address, 15);
}

TEST_F(Daemon, NodeFaultsBecomeExceptionsForTheOneRequestConcerned) {
    startDaemon();
    RawClient client(port);
    EXPECT_EQ(client.ask(9, kReadSerial), (Bytes{0x83, 0x0B})) << "no such slave";
    EXPECT_EQ(client.ask(1, kReadSerial), words(3, {1111})) << "the next one is answered";
    EXPECT_EQ(client.ask(1, {3, 0, 0, 0, 1}), (Bytes{0x83, 0x02})) << "the node's own exception";
    for (const snsim::Fault fault :
         {snsim::Fault::TornAnswer, snsim::Fault::BadCrc, snsim::Fault::WrongSlave}) {
        sim.setFault(fault);
        EXPECT_EQ(client.ask(1, kReadSerial), (Bytes{0x83, 0x0B})) << static_cast<int>(fault);
        sim.setFault(snsim::Fault::None);
        // The rest of a torn answer is never taken for this one.
        sim.setReg(15, 3333, 1);
        EXPECT_EQ(client.ask(1, kReadSerial), words(3, {3333})) << static_cast<int>(fault);
        sim.setReg(15, 1111, 1);
    }
}

// A client asks for its own wait on the line (0x41, milliseconds): the
// daemon answers it itself, the connection's later requests give up on the
// node that much sooner, never later than --timeout, and other connections
// keep the daemon's own.
TEST_F(Daemon, AClientsOwnWaitOnTheLineAppliesToItsConnectionOnly) {
    startDaemon({"--timeout", "600"});
    RawClient hasty(port), patient(port), bold(port);
    EXPECT_EQ(hasty.ask(0, {0x41, 0x00, 0x32}, 7), (Bytes{0x41, 1})) << "50 ms taken";
    EXPECT_EQ(bold.ask(1, {0x41, 0x13, 0x88}), (Bytes{0x41, 1})) << "5 s taken, not granted";
    EXPECT_EQ(hasty.ask(1, {0x41, 0x00, 0x00}), (Bytes{0xC1, 0x03})) << "no wait at all";
    EXPECT_EQ(hasty.ask(1, {0x41, 0x00}), (Bytes{0xC1, 0x03})) << "a word is two bytes";
    EXPECT_TRUE(lineTraffic().empty()) << "the setting never reaches the line";

    sim.setFault(snsim::Fault::Delay, 200ms);
    EXPECT_EQ(hasty.ask(1, kReadSerial), (Bytes{0x83, 0x0B})) << "gave up after 50 ms";
    EXPECT_EQ(patient.ask(1, kReadSerial), words(3, {1111})) << "the daemon's 600 ms";
    // Beyond the settling: the probe sent at once is given up on after
    // 1.25 timeouts (at 1350 ms); a wait of 5 s would have the answer.
    sim.setFault(snsim::Fault::Delay, 1600ms);
    EXPECT_EQ(bold.ask(1, kReadSerial), (Bytes{0x83, 0x0B})) << "--timeout bounds every wait";
    sim.setFault(snsim::Fault::None);
    std::this_thread::sleep_for(900ms);  // the late answer has come and gone
    EXPECT_EQ(hasty.ask(1, kReadSerial), words(3, {1111})) << "and the line is sound after";
}

// Through the daemon, snctl names a silent node and a lost line in words.
TEST_F(Daemon, SnctlSaysWhatTheDaemonsExceptionsMean) {
    startDaemon();
    sntest::RunResult run = sntest::runProgram({SNCTL_PATH, "-p", tcpName(), "-a", "9", "info"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snctl: cannot read serial number: no node answers at slave 9\n");
    sim.stop();
    run = sntest::runProgram({SNCTL_PATH, "-p", tcpName(), "power", "1", "status"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "snctl: cannot read power output 1: the bus daemon has lost its serial line "
              "(Gateway path unavailable)\n");
}

TEST_F(Daemon, ABroadcastWriteReachesEveryNodeAndIsAnsweredAsAWrite) {
    startDaemon();
    RawClient client(port);
    EXPECT_EQ(client.ask(0, {5, 0, 2, 0xFF, 0}), (Bytes{5, 0, 2, 0xFF, 0}));
    EXPECT_TRUE(sim.coil(2, 1) && sim.coil(2, 2));
    EXPECT_EQ(client.ask(0, kReadSerial), (Bytes{0x83, 0x01})) << "a read has no broadcast";
}

TEST_F(Daemon, ALostDeviceIsAnswered0x0AUntilItIsBackAndClientsStay) {
    startDaemon();
    RawClient client(port);
    ASSERT_EQ(client.ask(1, kReadSerial), words(3, {1111}));
    sim.stop();  // the adapter is pulled: the link goes too
    EXPECT_EQ(client.ask(1, kReadSerial), (Bytes{0x83, 0x0A}));
    EXPECT_EQ(client.ask(2, kReadSerial), (Bytes{0x83, 0x0A}));
    ASSERT_TRUE(sim.start());
    sim.setReg(15, 1111, 1);
    const auto back = std::chrono::steady_clock::now();
    std::optional<Bytes> answer;
    while ((answer = client.ask(1, kReadSerial)) == Bytes{0x83, 0x0A} &&
           std::chrono::steady_clock::now() - back < 10s) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(answer, words(3, {1111})) << daemonLog();
    EXPECT_LT(std::chrono::steady_clock::now() - back, 2s);
    const std::string log = daemonLog();
    EXPECT_NE(log.find("device " + link + " lost: Input/output error"), std::string::npos) << log;
    EXPECT_NE(log.find("device " + link + " is back"), std::string::npos) << log;
    EXPECT_EQ(log.find("closed"), std::string::npos) << "no client was closed: " << log;
}

// Clients gone while one's request is on the line and the others' wait:
// the transaction is finished, so the line is never left mid-frame, and
// its answer, which nobody takes, is counted; the requests waiting never go
// on the line, those of a client at its 16 in flight included (its socket
// is not read then, and it is heard leaving all the same).
TEST_F(Daemon, ClientsGoneLeaveTheLineCleanAndTheirWaitingRequestsOff) {
    startDaemon({"--timeout", "1000"});
    sim.setFault(snsim::Fault::Delay, 500ms);
    {
        RawClient onTheLine(port), few(port), many(port);
        ASSERT_TRUE(onTheLine.send(frame(7, 1, kReadSerial)));
        ASSERT_TRUE(sim.waitForLog(1, 5s));
        Bytes three, twenty;
        for (uint16_t id = 0; id < 20; ++id) {
            const Bytes one = frame(id, 1, kReadSerial);
            twenty.insert(twenty.end(), one.begin(), one.end());
            if (id < 3) three.insert(three.end(), one.begin(), one.end());
        }
        ASSERT_TRUE(few.send(three));
        ASSERT_TRUE(many.send(twenty));
        const auto until = std::chrono::steady_clock::now() + 400ms;
        while (metricsPage().find("snbusd_requests_waiting 19\n") == std::string::npos &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_NE(metricsPage().find("snbusd_requests_waiting 19\n"), std::string::npos)
            << "3 and 16 waiting, 4 not taken yet: " << metricsPage();
    }
    std::this_thread::sleep_for(700ms);  // the answer came, and went nowhere
    EXPECT_EQ(lineTraffic().size(), 1u) << "only the request that was on the line";
    sim.setFault(snsim::Fault::None);
    RawClient next(port);
    EXPECT_EQ(next.ask(2, kReadSerial), words(3, {2222}));
    EXPECT_EQ(next.ask(1, kReadSerial), words(3, {1111}));
    const std::string page = metricsPage();
    EXPECT_NE(page.find("snbusd_orphaned_answers_total{slave=\"1\"} 1\n"), std::string::npos)
        << page;
    EXPECT_NE(page.find("snbusd_requests_waiting 0\n"), std::string::npos) << page;
}

// SIGTERM: the transaction on the line is finished and answered, every
// client closed, status 0.
TEST_F(Daemon, StopsCleanlyOnSigterm) {
    startDaemon();
    sim.setFault(snsim::Fault::Delay, 150ms);  // within the 300 ms timeout
    RawClient client(port);
    ASSERT_TRUE(client.send(frame(5, 1, kReadSerial)));
    ASSERT_TRUE(sim.waitForLog(1, 5s));
    daemon.signal(SIGTERM);
    EXPECT_EQ(client.receive(), frame(5, 1, words(3, {1111})));
    EXPECT_TRUE(client.closedByDaemon());
    const sntest::RunResult end = daemon.wait(10s);
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_NE(end.err.find("closed: the daemon is stopping"), std::string::npos) << end.err;
    EXPECT_NE(end.err.find("stopped"), std::string::npos) << end.err;
}

TEST_F(Daemon, HostileInputClosesOnlyTheOffendingConnection) {
    startDaemon({"--idle-timeout", "1"});
    RawClient good(port);
    ASSERT_EQ(good.ask(1, kReadSerial), words(3, {1111}));
    for (const Bytes& bad :
         {Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'g', 'a', 'r', 'b', 'a', 'g', 'e', '\r', '\n'},
          Bytes{0, 1, 0, 0, 0x03, 0xE8, 1, 3, 0, 15, 0, 1},
          Bytes{0, 1, 0, 7, 0, 6, 1, 3, 0, 15, 0, 1}}) {
        RawClient hostile(port);
        ASSERT_TRUE(hostile.send(bad));
        EXPECT_TRUE(hostile.closedByDaemon()) << "still open after " << bad.size() << " bytes";
        EXPECT_EQ(good.ask(1, kReadSerial), words(3, {1111}));
    }
    RawClient silent(port);
    EXPECT_TRUE(silent.closedByDaemon(5s)) << "an idle connection stays";
    const std::string log = daemonLog();
    EXPECT_NE(log.find("closed: not Modbus TCP: length field 1000 outside 2 to 254"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("closed: not Modbus TCP: protocol id 7 is not Modbus"), std::string::npos);
    EXPECT_NE(log.find("closed: no request for 1 s"), std::string::npos);
}

TEST_F(Daemon, ConnectionsBeyondTheLimitAreTurnedAwayAndTheRestServed) {
    startDaemon({"--max-clients", "32"});
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 40; ++i) clients.push_back(std::make_unique<RawClient>(port));
    int served = 0, turnedAway = 0;
    for (auto& client : clients) {
        const auto answer = client->ask(1, kReadSerial);
        if (answer == words(3, {1111})) ++served;
        if (!answer) ++turnedAway;
    }
    EXPECT_EQ(served, 32);
    EXPECT_EQ(turnedAway, 8);
    EXPECT_NE(daemonLog().find("32 clients connected already"), std::string::npos);
}

TEST_F(Daemon, ReadOnlyAndUnitsRefuseWithoutTouchingTheLine) {
    startDaemon({"--read-only", "--units", "1"});
    RawClient client(port);
    EXPECT_EQ(client.ask(1, {6, 0, 21, 0, 100}), (Bytes{0x86, 0x01}));
    EXPECT_EQ(client.ask(1, {5, 0, 3, 0xFF, 0}), (Bytes{0x85, 0x01}));
    EXPECT_EQ(client.ask(2, kReadSerial), (Bytes{0x83, 0x0B}));
    EXPECT_EQ(client.ask(1, {3, 0, 15}), (Bytes{0x83, 0x03})) << "a PDU too short";
    EXPECT_TRUE(lineTraffic().empty());
    EXPECT_EQ(client.ask(1, kReadSerial), words(3, {1111}));
    EXPECT_EQ(lineTraffic().size(), 1u);
    EXPECT_FALSE(sim.coil(3));
}

TEST_F(Daemon, MetricsCountTheTrafficAndPassPromtool) {
    startDaemon({"--units", "1,9"});
    RawClient client(port);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(client.ask(1, kReadSerial), words(3, {1111}));
    ASSERT_EQ(client.ask(1, {3, 0, 0, 0, 1}), (Bytes{0x83, 0x02}));
    ASSERT_EQ(client.ask(9, kReadSerial), (Bytes{0x83, 0x0B}));
    ASSERT_EQ(client.ask(2, kReadSerial), (Bytes{0x83, 0x0B}));
    const std::string page = metricsPage();
    for (const char* line :
         {"snbusd_transactions_total{slave=\"1\",outcome=\"ok\"} 4\n",
          "snbusd_transactions_total{slave=\"9\",outcome=\"timeout\"} 1\n",
          "snbusd_node_exceptions_total{slave=\"1\",code=\"2\"} 1\n",
          "snbusd_refused_requests_total{reason=\"unit\"} 1\n",
          "snbusd_transaction_duration_seconds_count 5\n", "snbusd_clients_connected 1\n",
          "snbusd_line_up 1\n", "snbusd_requests_waiting 0\n"}) {
        EXPECT_NE(page.find(line), std::string::npos) << line << page;
    }
    const std::string pageFile = dir + "/metrics.txt";
    ASSERT_EQ(
        sntest::runProgram({"/bin/sh", "-c", "cat > " + pageFile + " <<'EOF'\n" + page + "EOF"})
            .status,
        0);
    const sntest::RunResult check =
        sntest::runProgram({"/bin/sh", "-c", "promtool check metrics < " + pageFile});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.err + check.out, "") << "promtool's complaints";
}

}  // namespace

}  // namespace snbusd_test

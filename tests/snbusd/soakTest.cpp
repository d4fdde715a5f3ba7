// The soak: 16 independent clients make random transactions through snbusd
// against a node that misbehaves at random.  Every request gets its right
// answer or an exception, no answer is another client's, nobody gets stuck,
// and the daemon holds the same memory and descriptors after as before.
//   SN_SOAK_SECONDS bounds the run (CI: about a minute; ./run soak longer);
//   SN_SOAK_TRANSACTIONS is each client's count (2000).
// How many transactions a run must make grows with the seconds it is given.
#include <dirent.h>
#include <modbus.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "daemonFixture.h"

namespace snbusd_test {

namespace {

constexpr int kClients = 16;
constexpr int kFirstRegister = 47;  // each client owns one analog parameter word

// Transactions a second each soak makes at the least, whatever its length.
// The node's faults set the pace more than the machine does: an answer a
// second late holds the node that long, and a request given up on holds
// the line for its timeout and its probe's.  Measured in 20 s runs on two
// cores: random faults 35 to 50 a second, 34 under ASan, 33 under TSan
// (also 50 while a sanitizer build took both cores); late answers 95, 47
// and 46.  The floors leave half of that and more.
#ifdef SN_SANITIZED
constexpr long kRandomFaultsPerSecond = 15;
constexpr long kLateAnswersPerSecond = 20;
#else
constexpr long kRandomFaultsPerSecond = 20;
constexpr long kLateAnswersPerSecond = 50;
#endif

long fromEnvironment(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atol(text) : fallback;
}

// The sum of a counter's samples over every slave on the metrics page.
long counterTotal(const std::string& page, const std::string& family) {
    std::istringstream lines(page);
    long total = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(family + "{", 0) != 0) continue;
        total += std::atol(line.substr(line.rfind(' ') + 1).c_str());
    }
    return total;
}

struct Tally {
    long transactions = 0, answered = 0, targetFailed = 0, nodeException = 0;
    long crossed = 0, otherErrors = 0, clients = 0;
};

// One client: its own connection, its own register of its own slave, and
// the values that register may hold (a write whose answer was lost may or
// may not have happened).
class SoakClient {
public:
    // `writeThenRead`: each write of the client's own register is read
    // back by the next transaction (otherwise the kind is drawn at random).
    SoakClient(int index, uint16_t port, bool writeThenRead = false)
        : index_(index), rng_(1000u + static_cast<unsigned>(index)), writeThenRead_(writeThenRead) {
        ctx_ = modbus_new_tcp("127.0.0.1", port);
        modbus_set_slave(ctx_, 1 + index % 2);
        // Far beyond any queue, so a stall shows.  Turns are charged the line
        // time a job held: a client whose request failed (the timeout and the
        // probe, 675 ms under a sanitizer) waits while the other 15 have as
        // much, about 10 s.
        modbus_set_response_timeout(ctx_, 30, 0);
        connected_ = modbus_connect(ctx_) == 0;
    }
    ~SoakClient() {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    bool connected() const { return connected_; }

    void run(long count, std::chrono::steady_clock::time_point until, Tally& tally) {
        for (long i = 0; i < count && std::chrono::steady_clock::now() < until; ++i) {
            ++tally.transactions;
            transaction(tally);
        }
    }

private:
    void transaction(Tally& tally) {
        const auto value = static_cast<uint16_t>((index_ << 8) | (rng_() & 0xFF));
        const int kind =
            writeThenRead_ ? static_cast<int>(turn_++ % 2) : static_cast<int>(rng_() % 3);
        uint16_t read = 0;
        int rc = 0;
        if (kind == 0) rc = modbus_write_register(ctx_, address(), value);
        if (kind == 1) rc = modbus_read_registers(ctx_, address(), 1, &read);
        if (kind == 2)
            rc = modbus_write_and_read_registers(ctx_, address(), 1, &value, address(), 1, &read);
        count(rc, kind, value, read, tally);
    }

    void count(int rc, int kind, uint16_t value, uint16_t read, Tally& tally) {
        if (rc < 0) {
            if (errno == EMBXGTAR)
                ++tally.targetFailed;
            else if (errno == EMBXSFAIL)
                ++tally.nodeException;
            else
                ++tally.otherErrors;
            // It may have been written.  Nothing known yet stays nothing known:
            // the register may still hold whatever it held before this client
            // (an earlier soak's last write, when this write never arrived).
            if (kind != 1 && !possible_.empty()) possible_.insert(value);
            return;
        }
        ++tally.answered;
        if (kind == 0) {
            possible_ = {value};
            return;
        }
        const std::set<uint16_t> expected = kind == 2 ? std::set<uint16_t>{value} : possible_;
        // A write-and-read must read back its own value; a read, whatever
        // the register may hold, once anything is known of it.
        if ((kind == 2 || !possible_.empty()) && expected.count(read) == 0) {
            ++tally.crossed;
            std::printf("crossed: client %d (register %d) %s read 0x%04x, expected one of", index_,
                        address(), kind == 2 ? "write-and-read" : "read", read);
            for (const uint16_t v : expected) std::printf(" 0x%04x", v);
            std::printf("\n");
        }
        possible_ = {read};
    }

    int address() const { return kFirstRegister + index_ / 2 + 8 * (index_ % 2 == 0 ? 0 : 1); }

    int index_;
    std::mt19937 rng_;
    bool writeThenRead_;
    long turn_ = 0;
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
    std::set<uint16_t> possible_;
};

int openDescriptors(pid_t pid) {
    DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (fds == nullptr) return -1;
    int count = 0;
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
    return count - 2;  // . and ..
}

Tally soak(uint16_t port, long count, std::chrono::seconds seconds, int clients = kClients,
           bool writeThenRead = false) {
    std::vector<Tally> tallies(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    const auto until = std::chrono::steady_clock::now() + seconds;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            SoakClient client(i, port, writeThenRead);
            Tally& tally = tallies[static_cast<std::size_t>(i)];
            if (!client.connected()) return;
            tally.clients = 1;
            client.run(count, until, tally);
        });
    }
    for (auto& thread : threads) thread.join();
    Tally all;
    for (const Tally& t : tallies) {
        all.transactions += t.transactions;
        all.answered += t.answered;
        all.targetFailed += t.targetFailed;
        all.nodeException += t.nodeException;
        all.crossed += t.crossed;
        all.otherErrors += t.otherErrors;
        all.clients += t.clients;
    }
    return all;
}

TEST_F(DaemonTest, SoakWithRandomFaultsCrossesNothingAndLeaksNothing) {
#ifdef SN_SANITIZED
    // A sanitizer slows the emulator's threads enough that a sound answer
    // can miss 100 ms, arriving as the next request's; the faults injected
    // stay far beyond either timeout.
    startDaemon({"--timeout", "300"});
#else
    startDaemon({"--timeout", "100"});
#endif
    soak(port, 20, 10s);                 // warm-up: connections, buffers, the allocator
    std::this_thread::sleep_for(500ms);  // its connections closed
    const long rssBefore = residentKiB(daemon.pid());
    const int fdsBefore = openDescriptors(daemon.pid());
    // A late answer comes a second late: long after the daemon gave up,
    // while other requests are on the line.
    sim.setRandomFaults(snsim::RandomFaults{0.02, 0.02, 0.01, 0.01, 1000ms, 0ms, 7});
    const auto seconds = std::chrono::seconds(fromEnvironment("SN_SOAK_SECONDS", 45));
    const long count = fromEnvironment("SN_SOAK_TRANSACTIONS", 2000);
    const Tally t = soak(port, count, seconds);
    const snsim::InjectedFaults f = sim.injectedFaults();
    sim.setRandomFaults(snsim::RandomFaults{});
    std::this_thread::sleep_for(500ms);  // the last connections closed
    const long rssAfter = residentKiB(daemon.pid());
    const int fdsAfter = openDescriptors(daemon.pid());
    std::printf(
        "soak: %ld transactions, %ld answered, %ld 0x0B, %ld node exceptions, %ld crossed, "
        "%ld other errors; faults injected: %lu no answer, %lu late, %lu torn, "
        "%lu exception in %lu requests; daemon %ld -> %ld KiB, %d -> %d descriptors\n",
        t.transactions, t.answered, t.targetFailed, t.nodeException, t.crossed, t.otherErrors,
        static_cast<unsigned long>(f.noAnswer), static_cast<unsigned long>(f.late),
        static_cast<unsigned long>(f.torn), static_cast<unsigned long>(f.exception),
        static_cast<unsigned long>(f.requests), rssBefore, rssAfter, fdsBefore, fdsAfter);
    EXPECT_GE(t.transactions, std::min(kRandomFaultsPerSecond * seconds.count(), count * kClients));
    EXPECT_EQ(t.crossed, 0);
    EXPECT_EQ(t.otherErrors, 0) << "every request gets its answer or an exception";
    // A request told 0x0B ends once at most: its late answer comes, to
    // nobody, or what it did stays unknown.  The probes' are no client's.
    const std::string page = metricsPage();
    const long orphaned = counterTotal(page, "snbusd_orphaned_answers_total");
    const long unsettled = counterTotal(page, "snbusd_unsettled_requests_total");
    std::printf("soak: %ld answers nobody took, %ld requests unsettled\n", orphaned, unsettled);
    EXPECT_GT(orphaned, 0) << "answers a second late come long after their 0x0B";
    EXPECT_LE(orphaned + unsettled, t.targetFailed) << page;
    EXPECT_EQ(t.clients, kClients) << "every client connected";
    EXPECT_GT(f.noAnswer, 0u);
    EXPECT_GT(f.late, 0u);
    EXPECT_GT(f.torn, 0u);
    EXPECT_GT(f.exception, 0u);
    EXPECT_EQ(fdsAfter, fdsBefore);
#ifndef SN_SANITIZED
    // AddressSanitizer holds freed memory back on purpose; there, its leak
    // check at the daemon's exit below is the measure instead.
    EXPECT_LE(rssAfter - rssBefore, 256) << "KiB more after the soak";
#endif
    daemon.signal(SIGTERM);
    const sntest::RunResult end = daemon.wait(10s);
    EXPECT_EQ(end.status, 0) << "a clean stop, no leak reported: " << end.err;
}

// A busy node answers 3 % of its requests late, by 1.5 and by 3 times the
// daemon's timeout, after it gave up and while other clients' requests are
// on the line, and tears 2 % of them.  Eight clients write their own
// register and read it back: every value read is the client's own.
TEST_F(DaemonTest, SoakOfLateAnswersEveryReadBackIsTheClientsOwn) {
#ifdef SN_SANITIZED
    const auto timeout = 300ms;
#else
    const auto timeout = 100ms;
#endif
    startDaemon({"--timeout", std::to_string(timeout.count())});
    snsim::RandomFaults faults;
    faults.late = 0.03;
    faults.torn = 0.02;
    faults.lateBy = timeout * 3 / 2;
    faults.alsoLateBy = timeout * 3;
    faults.seed = 21;
    sim.setRandomFaults(faults);
    const auto seconds = std::chrono::seconds(fromEnvironment("SN_SOAK_SECONDS", 20));
    const long count = fromEnvironment("SN_SOAK_TRANSACTIONS", 2000);
    const Tally t = soak(port, count, seconds, 8, true);
    const snsim::InjectedFaults f = sim.injectedFaults();
    sim.setRandomFaults(snsim::RandomFaults{});
    std::printf(
        "late soak: %ld transactions, %ld answered, %ld 0x0B, %ld crossed; %lu late, "
        "%lu torn in %lu requests\n",
        t.transactions, t.answered, t.targetFailed, t.crossed, static_cast<unsigned long>(f.late),
        static_cast<unsigned long>(f.torn), static_cast<unsigned long>(f.requests));
    EXPECT_GE(t.transactions, std::min(kLateAnswersPerSecond * seconds.count(), count * 8));
    EXPECT_EQ(t.crossed, 0);
    EXPECT_EQ(t.otherErrors, 0);
    EXPECT_EQ(t.clients, 8);
    EXPECT_GT(f.late, 0u);
    EXPECT_GT(f.torn, 0u);
    const std::string metrics = metricsPage();
    EXPECT_NE(metrics.find("snbusd_late_answers_total{slave=\"1\"}"), std::string::npos) << metrics;
    EXPECT_NE(daemonLog().find(" answers late: its answers come "), std::string::npos)
        << daemonLog();
}

}  // namespace

}  // namespace snbusd_test

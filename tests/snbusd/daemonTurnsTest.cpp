// What one client cannot take from the others through snbusd: the line,
// by looping on a unit that never answers, nor the daemon's memory or a
// place for good, by flooding requests and reading no answer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <regex>
#include <thread>

#include "daemonFixture.h"

namespace snbusd_test {

namespace {

using Clock = std::chrono::steady_clock;

const Bytes kReadBlock{3, 1, 6, 0, 121};  // a port's receive block, 121 registers
constexpr uint8_t kAbsentUnit = 9;        // a unit the node does not answer
constexpr auto kTimeout = 300ms;          // the fixture's --timeout

class BesideADeadUnit : public DaemonTest {
protected:
    // Frames take their real time at 115200: a block holds the line 23 ms.
    BesideADeadUnit() : DaemonTest([](snsim::Options& options) { options.lineTiming = true; }) {}
};

// One client's turns: how many, and the longest it waited for one (from
// the answer before, or from the start; a wait still going at the end counts).
struct Turns {
    int count = 0;
    Clock::duration longest{};
};

Turns loopOn(uint16_t port, uint8_t unit, const Bytes& pdu, const std::atomic<bool>& stop) {
    RawClient client(port);
    Turns turns;
    auto last = Clock::now();
    for (uint16_t id = 0; !stop; ++id) {
        const auto answer = client.ask(unit, pdu, id);
        const auto now = Clock::now();
        turns.longest = std::max(turns.longest, now - last);
        last = now;
        if (!answer) break;
        ++turns.count;
    }
    turns.longest = std::max(turns.longest, Clock::now() - last);
    return turns;
}

double inTimeouts(Clock::duration wait) {
    return std::chrono::duration<double>(wait) / std::chrono::duration<double>(kTimeout);
}

// A unit that never answers holds the line for each request's timeout and
// the probes that settle it.  Charged what it held, a client looping on
// it gets no more than its share: a client streaming blocks beside it
// waits for one such request at most, and gets many blocks per dead turn.
TEST_F(BesideADeadUnit, AStreamerGetsItsBlockAfterOneDeadTurnAtMost) {
    startDaemon();
    std::atomic<bool> stop{false};
    Turns dead, blocks;
    std::thread deadLoop([&] { dead = loopOn(port, kAbsentUnit, kReadSerial, stop); });
    std::this_thread::sleep_for(100ms);  // the dead unit's first turn on the line
    std::thread streamer([&] { blocks = loopOn(port, 1, kReadBlock, stop); });
    std::this_thread::sleep_for(6s);
    stop = true;
    streamer.join();
    deadLoop.join();
    std::printf(
        "beside a dead unit: %d blocks, longest wait %.0f ms (%.2f timeouts); "
        "dead unit %d turns, longest %.0f ms (%.2f timeouts)\n",
        blocks.count, std::chrono::duration<double, std::milli>(blocks.longest).count(),
        inTimeouts(blocks.longest), dead.count,
        std::chrono::duration<double, std::milli>(dead.longest).count(), inTimeouts(dead.longest));
    ASSERT_GT(dead.count, 0) << daemonLog();
    // One dead turn (3.75 timeouts at most, with its probe before and
    // after), the streamer's block and room for a loaded machine.
    EXPECT_LT(inTimeouts(blocks.longest), 5.0);
    EXPECT_GT(blocks.count, 3 * dead.count) << "about half the line, not one block a turn";
}

// A connection whose receive buffer is as small as the kernel allows, so
// that the answers it never reads stay in the daemon's hands.
int floodingClient(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 1;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

// Requests the daemon answers at once, without the node: a client's own
// wait (0x41) and a read to unit 0, refused.
Bytes floodOfRequests() {
    Bytes pair = frame(1, 1, {0x41, 0, 50});
    const Bytes refused = frame(2, 0, kReadSerial);
    pair.insert(pair.end(), refused.begin(), refused.end());
    Bytes out;
    while (out.size() < 64 * 1024) out.insert(out.end(), pair.begin(), pair.end());
    return out;
}

// Sends for `seconds` as fast as the daemon takes, or until it closes the
// connection; the bytes sent.
std::size_t flood(int fd, std::chrono::seconds seconds) {
    const Bytes requests = floodOfRequests();
    std::size_t sent = 0, at = 0;
    const auto until = Clock::now() + seconds;
    while (Clock::now() < until) {
        const ssize_t n = send(fd, requests.data() + at, requests.size() - at, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            at = (at + static_cast<std::size_t>(n)) % requests.size();
            continue;
        }
        if (errno != EAGAIN && errno != EINTR) break;
        pollfd out{fd, POLLOUT, 0};
        poll(&out, 1, 20);
    }
    return sent;
}

// Its answers and requests are held to a few dozen KiB, the rest is TCP's:
// the daemon's memory stays flat and another client is served meanwhile.
TEST_F(DaemonTest, AFloodOfRequestsWhoseAnswersAreNeverReadHoldsNoMoreMemory) {
    startDaemon();
    sim.setReg(15, 1111, 1);
    RawClient other(port);
    ASSERT_EQ(other.ask(1, kReadSerial), words(3, {1111}));  // the daemon warmed up
    const long before = residentKiB(daemon.pid());
    const int fd = floodingClient(port);
    ASSERT_GE(fd, 0);
    std::size_t sent = 0;
    std::thread flooder([&] { sent = flood(fd, 4s); });
    int served = 0;
    for (uint16_t id = 0; id < 20; ++id) {
        std::this_thread::sleep_for(150ms);
        if (other.ask(1, kReadSerial, id) == words(3, {1111})) ++served;
    }
    flooder.join();
    const long after = residentKiB(daemon.pid());
    close(fd);
    std::printf(
        "a flood of %zu bytes of requests, no answer read: daemon %ld -> %ld KiB; "
        "the other client served %d of 20\n",
        sent, before, after, served);
    EXPECT_EQ(served, 20);
#ifndef SN_SANITIZED
    // A sanitizer holds freed memory back on purpose: no measure there.
    EXPECT_LT(after - before, 1024) << "KiB more under the flood";
#endif
}

// Held back, a flooder that still reads nothing is dropped once it has taken
// none of its answers for 10 s: one log line names it and says why, and the
// other client is served all along.
TEST_F(DaemonTest, AFlooderThatNeverReadsItsAnswersIsDroppedInOneLine) {
    startDaemon();
    sim.setReg(15, 1111, 1);
    RawClient other(port);
    ASSERT_EQ(other.ask(1, kReadSerial), words(3, {1111}));
    const int fd = floodingClient(port);
    ASSERT_GE(fd, 0);
    const auto start = Clock::now();
    std::size_t sent = 0;
    std::thread flooder([&] { sent = flood(fd, 20s); });
    sockaddr_in own{};
    socklen_t length = sizeof own;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length), 0);
    // The flooder by its own address, not the other client.
    const std::regex dropped(
        "client [0-9]+ \\(127\\.0\\.0\\.1:" + std::to_string(ntohs(own.sin_port)) +
        "\\) closed: it read none of its ([0-9]+) bytes of answers for 10 s\n");
    std::smatch line;
    std::string log;
    int served = 0, asked = 0;
    while (!std::regex_search(log = daemonLog(), line, dropped) && Clock::now() - start < 20s) {
        std::this_thread::sleep_for(500ms);
        ++asked;
        if (other.ask(1, kReadSerial, static_cast<uint16_t>(asked)) == words(3, {1111})) ++served;
    }
    const double after = std::chrono::duration<double>(Clock::now() - start).count();
    flooder.join();
    close(fd);
    ASSERT_FALSE(line.empty()) << log;
    std::printf(
        "a flooder reading nothing: %zu bytes of requests sent, dropped after %.1f s with %s "
        "bytes of answers unread; the other client served %d of %d\n",
        sent, after, line[1].str().c_str(), served, asked);
    EXPECT_GE(after, 10.0);
    EXPECT_EQ(served, asked);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(other.ask(1, kReadSerial, 999), words(3, {1111}));
    const std::string end = daemonLog();
    EXPECT_EQ(std::distance(std::sregex_iterator(end.begin(), end.end(), dropped),
                            std::sregex_iterator()),
              1)
        << end;
}

}  // namespace

}  // namespace snbusd_test

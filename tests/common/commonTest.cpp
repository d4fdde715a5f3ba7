// The shared parts: pseudo-terminals and their links, child processes,
// whole transfers and stop signals.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "sncommon/childProcess.h"
#include "sncommon/fdTransfer.h"
#include "sncommon/pseudoTerminal.h"
#include "sncommon/stopSignals.h"
#include "snline/hostPort.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Links : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("sn-common-test-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    sncommon::PseudoTerminalOptions at(const std::string& name) {
        return sncommon::PseudoTerminalOptions{(dir / name).string()};
    }
    fs::path dir;
};

TEST_F(Links, PointAtTheSlaveAndCarryBytesUnchangedBothWays) {
    const sncommon::PseudoTerminal pty(at("link"));
    EXPECT_EQ(fs::read_symlink(dir / "link"), pty.slavePath());
    const int client = open((dir / "link").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(client, 0);
    const std::string raw = "a\r\n\x04\x03\x7f";
    ASSERT_TRUE(sncommon::writeAll(client, raw.data(), raw.size(), 2s));
    std::string got(raw.size(), '\0');
    EXPECT_EQ(sncommon::readAll(pty.master(), got.data(), got.size(), 2s), raw.size());
    EXPECT_EQ(got, raw);
    ASSERT_TRUE(sncommon::writeAll(pty.master(), raw.data(), raw.size(), 2s));
    EXPECT_EQ(sncommon::readAll(client, got.data(), got.size(), 2s), raw.size());
    EXPECT_EQ(got, raw);
    close(client);
}

TEST_F(Links, GoWithTheirOwnerButOnlyWhileTheyStillPointAtIt) {
    { const sncommon::PseudoTerminal pty(at("mine")); }
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "mine")));
    {
        const sncommon::PseudoTerminal pty(at("moved"));
        fs::remove(dir / "moved");
        fs::create_symlink("/dev/null", dir / "moved");  // someone else's now
    }
    EXPECT_EQ(fs::read_symlink(dir / "moved"), "/dev/null");
}

// A link in use is someone's: refused, left as it is, and the message says
// where it points.
TEST_F(Links, ALiveLinkIsRefusedAndKept) {
    const sncommon::PseudoTerminal first(at("live"));
    try {
        const sncommon::PseudoTerminal second(at("live"));
        ADD_FAILURE() << "a live link was taken over";
    } catch (const std::system_error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot make the link " + (dir / "live").string() +
                                                 ": it is a link to " + first.slavePath() +
                                                 ", which is in use: File exists");
    }
    EXPECT_EQ(fs::read_symlink(dir / "live"), first.slavePath());
}

// As after a killed run: the link's pty is gone, and the next pty may well
// get the same number.  The stale link is claimed before that pty is made.
TEST_F(Links, AStaleLinkIsClaimedEvenWhenItsNumberComesBack) {
    std::string oldSlave;
    {
        sncommon::PseudoTerminal gone;
        oldSlave = gone.slavePath();
        fs::create_symlink(oldSlave, dir / "stale");
    }
    try {
        const sncommon::PseudoTerminal next(at("stale"));
        EXPECT_EQ(fs::read_symlink(dir / "stale"), next.slavePath()) << "was " << oldSlave;
    } catch (const std::system_error& error) {
        // A program beside this one (a suite run in parallel) took the number
        // first: the link then names its pty, and is rightly kept.
        GTEST_SKIP() << error.what();
    }
}

TEST_F(Links, ReplaceOnlyADanglingLinkAndRefuseAnyOtherFile) {
    fs::create_symlink(dir / "gone", dir / "stale");
    EXPECT_NO_THROW(sncommon::PseudoTerminal pty(at("stale")));
    std::ofstream(dir / "file") << "keep";
    fs::create_directory(dir / "directory");
    for (const char* name : {"file", "directory"}) {
        EXPECT_THROW(sncommon::PseudoTerminal pty(at(name)), std::system_error) << name;
    }
    std::ifstream kept(dir / "file");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
}

int exitCode(std::optional<int> status) {
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

TEST(ChildProcesses, ReportTheirStatusAndGetTheDescriptorsAsked) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    sncommon::ChildProcess child;
    ASSERT_TRUE(child.start({"sh", "-c", "printf out; exit 3"}, {-1, fds[1], -1}));
    close(fds[1]);
    EXPECT_EQ(exitCode(child.wait(5s)), 3);
    char got[8] = {};
    EXPECT_EQ(sncommon::readAll(fds[0], got, sizeof got, 2s), 3u);
    EXPECT_STREQ(got, "out");
    close(fds[0]);
}

TEST(ChildProcesses, StartWithSignalsUnblockedAndEndWithTheirWholeGroup) {
    const sncommon::StopSignals blockedHere;  // blocks SIGTERM in this thread
    sncommon::ChildProcess child;
    const std::string marker = "/tmp/sn-common-grandchild-" + std::to_string(getpid());
    ASSERT_TRUE(child.start({"sh", "-c", "sleep 30 & echo $! >" + marker + "; wait"},
                            {-1, -1, -1, -1, true}));
    std::string grandchild;
    for (int i = 0; i < 200 && grandchild.empty(); ++i) {
        std::this_thread::sleep_for(10ms);
        std::ifstream(marker) >> grandchild;
    }
    ASSERT_FALSE(grandchild.empty());
    const int status = child.stop(SIGTERM, 5s);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    // The grandchild went with the group: nothing of it left but, at most,
    // a zombie for init to reap.
    std::this_thread::sleep_for(100ms);
    std::ifstream stat("/proc/" + grandchild + "/stat");
    std::string pid, name, state;
    stat >> pid >> name >> state;
    EXPECT_TRUE(state.empty() || state == "Z") << state;
    fs::remove(marker);
}

TEST(StopSignals, AreTakenByTheirWaiterAndShowOnTheirDescriptor) {
    const sncommon::StopSignals signals;
    EXPECT_EQ(signals.take(), 0);
    kill(getpid(), SIGHUP);
    pollfd ready{signals.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, 2000), 1);
    EXPECT_EQ(signals.wait(2s), SIGHUP);
    EXPECT_EQ(signals.take(), 0);
}

TEST(WholeTransfers, GoOnAfterShortWritesAndStopAtTheirTimeout) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const std::string big(256 * 1024, 'x');
    std::string got;
    std::thread reader([&] {
        char chunk[1024];  // divides the whole, so no read waits for more
        while (got.size() < big.size()) {
            const std::size_t n = sncommon::readAll(fds[0], chunk, sizeof chunk, 5s);
            if (n == 0) break;
            got.append(chunk, n);
        }
    });
    EXPECT_TRUE(sncommon::writeAll(fds[1], big.data(), big.size(), 10s));
    reader.join();
    EXPECT_EQ(got, big);
    // Nobody reads: the write gives up at its timeout.
    EXPECT_FALSE(sncommon::writeAll(fds[1], big.data(), big.size(), 100ms));
    char none[4];
    close(fds[1]);
    EXPECT_EQ(sncommon::readAll(fds[0], none, sizeof none, 100ms), 4u) << "what was left";
    close(fds[0]);
}

}  // namespace

namespace {

TEST(HostPorts, TakeNamesAddressesAndBracketedIpv6WithAPortInRange) {
    snline::HostPort hp;
    ASSERT_TRUE(snline::parseHostPort("127.0.0.1:1502", hp));
    EXPECT_STREQ(hp.host, "127.0.0.1");
    EXPECT_STREQ(hp.port, "1502");
    ASSERT_TRUE(snline::parseHostPort("[::1]:65535", hp));
    EXPECT_STREQ(hp.host, "::1");
    EXPECT_STREQ(hp.port, "65535");
    ASSERT_TRUE(snline::parseHostPort("gateway.local:1", hp));
    EXPECT_STREQ(hp.host, "gateway.local");
    for (const char* bad : {"", ":1502", "host", "host:", "host:0", "host:65536", "host:15x2",
                            "::1:1502", "[::1]1502", "[::1:1502", "[]:1502", "host:+1", "h:-1"}) {
        EXPECT_FALSE(snline::parseHostPort(bad, hp)) << bad;
    }
    const std::string longName(300, 'a');
    EXPECT_FALSE(snline::parseHostPort((longName + ":1").c_str(), hp));
}

}  // namespace

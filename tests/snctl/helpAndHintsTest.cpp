// What a user meets when lost: every command's own help, and the sentences
// that say what went wrong at the device, directly and through the real
// snbusd, in the same words both ways.
#include "../snbusd/daemonFixture.h"
#include "capturedProcess.h"
#include "freePort.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using sntest::RunResult;

RunResult snctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{SNCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return sntest::runProgram(argv);
}

TEST(SnctlHelp, EveryCommandShowsItsOwnUsageWithHelpAnywhereAndHelpCommand) {
    const RunResult all = snctl({"--help"});
    ASSERT_EQ(all.status, 0);
    EXPECT_NE(all.out.find("tcp:HOST:PORT"), std::string::npos) << all.out;
    for (const char* command : {"info", "power", "analog", "params", "blink", "dc", "reset-config",
                                "timeout", "port", "bridge", "scan", "exporter"}) {
        const std::string usage = std::string("usage: snctl [OPTIONS] ") + command;
        for (const std::vector<std::string>& asked :
             {std::vector<std::string>{command, "--help"}, {command, "-h"}, {"help", command}}) {
            const RunResult run = snctl(asked);
            EXPECT_EQ(run.status, 0) << command << ": " << run.err;
            EXPECT_EQ(run.out.rfind(usage, 0), 0u) << command << ":\n" << run.out;
            EXPECT_EQ(run.err, "") << command;
        }
    }
    // After other options too, where a value was expected before.
    const RunResult scan = snctl({"scan", "--slaves", "1-3", "--help"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("--timeout MS"), std::string::npos) << scan.out;
    const RunResult exporter = snctl({"exporter", "--help"});
    EXPECT_NE(exporter.out.find("--target NAME=DEVICE"), std::string::npos) << exporter.out;
    const RunResult port = snctl({"help", "port"});
    EXPECT_NE(port.out.find("port P send TEXT"), std::string::npos) << port.out;
    EXPECT_NE(port.out.find("port P recv [MS]"), std::string::npos) << port.out;

    EXPECT_EQ(snctl({"help"}).out, all.out);
    const RunResult unknown = snctl({"help", "frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.err;
}

TEST(SnctlHints, TcpNamesWithoutPortOrDaemonSayWhatToDo) {
    const RunResult noPort = snctl({"-p", "tcp:localhost", "info"});
    EXPECT_EQ(noPort.status, 2);
    EXPECT_EQ(noPort.err,
              "snctl: -p tcp:localhost: the port is missing (tcp:HOST:PORT, as in "
              "tcp:127.0.0.1:1502)\n");
    const RunResult scanNoPort = snctl({"-p", "tcp:[::1]", "scan"});
    EXPECT_EQ(scanNoPort.status, 2);
    EXPECT_NE(scanNoPort.err.find("the port is missing"), std::string::npos) << scanNoPort.err;

    const std::string address = "127.0.0.1:" + std::to_string(sntest::freeLoopbackPort());
    const std::string refused =
        "snctl: nothing listens at " + address + " \u2014 is snbusd running?\n";
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"info"}, {"power", "3", "on"}, {"scan", "--slaves", "1"}}) {
        std::vector<std::string> args{"-p", "tcp:" + address};
        args.insert(args.end(), command.begin(), command.end());
        const RunResult run = snctl(args);
        EXPECT_EQ(run.status, 1) << command.front();
        EXPECT_EQ(run.err, refused) << command.front();
        EXPECT_EQ(run.err.find("bit/s"), std::string::npos);
    }
}

TEST(SnctlHints, WithoutDashPTheDefaultDeviceIsNamed) {
    // No serial device in a test is a node; whatever /dev/ttyS0 is here
    // (absent, unusable, or silent), the line must name it.
    const RunResult run = snctl({"info"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("/dev/ttyS0"), std::string::npos) << run.err;
}

class SnctlNodeHints : public snbusd_test::DaemonTest {};

TEST_F(SnctlNodeHints, AbsentSlaveIsNamedInTheSameWordsDirectlyAndThroughTheDaemon) {
    const std::string expected = "snctl: cannot read serial number: no node answers at slave 9\n";
    const RunResult direct = snctl({"-p", link, "-a", "9", "info"});
    EXPECT_EQ(direct.status, 1);
    EXPECT_EQ(direct.err, expected);
    startDaemon();  // the device's one master from now on
    const RunResult bus = snctl({"-p", tcpName(), "-a", "9", "info"});
    EXPECT_EQ(bus.status, 1);
    EXPECT_EQ(bus.err, expected);
}

TEST_F(SnctlNodeHints, PowerWithoutAStateShowsItAsStatusDoes) {
    sim.setCoil(3, true);
    const RunResult shown = snctl({"-p", link, "power", "3"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, "output: 3\nstate: on\n");
    EXPECT_EQ(shown.out, snctl({"-p", link, "power", "3", "status"}).out);
    EXPECT_TRUE(sim.coil(3));
    sim.setCoil(2, false);
    EXPECT_EQ(snctl({"-p", link, "power", "2"}).out, "output: 2\nstate: off\n");
}

TEST_F(SnctlNodeHints, ScanThatFindsNothingSaysWhereItLookedBothWays) {
    const RunResult direct = snctl({"-p", link, "scan", "--slaves", "3-5,8", "--timeout", "50"});
    EXPECT_EQ(direct.status, 0) << direct.err;
    EXPECT_EQ(direct.out, "");
    EXPECT_EQ(direct.err, "snctl: scan: no node answered at 3-5,8\n");
    const RunResult json = snctl({"-p", link, "--json", "scan", "--slaves", "3"});
    EXPECT_EQ(json.out, "{\"nodes\":[]}\n");
    startDaemon();  // the device's one master from now on
    const RunResult bus = snctl({"-p", tcpName(), "scan", "--slaves", "5,6", "--timeout", "50"});
    EXPECT_EQ(bus.status, 0) << bus.err;
    EXPECT_EQ(bus.err, "snctl: scan: no node answered at 5-6\n");
    const RunResult held = snctl({"-p", link, "scan", "--slaves", "3"});
    EXPECT_EQ(held.status, 1);
    EXPECT_EQ(held.err.find("snctl: " + link + " is in use by PID "), 0u) << held.err;
}

// The scan's --timeout is the wait at each address through snbusd too, as
// on the device itself: a node slower than it is not found either way, and
// is found both ways when given the time.
TEST_F(SnctlNodeHints, ScanThroughTheDaemonHonoursItsTimeoutOnTheLine) {
    sim.setFault(snsim::Fault::Delay, std::chrono::milliseconds(600));
    for (const bool throughTheDaemon : {false, true}) {
        if (throughTheDaemon) startDaemon({"--timeout", "2000"});
        const std::string device = throughTheDaemon ? tcpName() : link;
        const RunResult hasty = snctl({"-p", device, "scan", "--slaves", "1", "--timeout", "100"});
        EXPECT_EQ(hasty.status, 0) << device << ": " << hasty.err;
        EXPECT_EQ(hasty.out, "") << device;
        EXPECT_EQ(hasty.err, "snctl: scan: no node answered at 1\n") << device;
        std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the late answer goes by
        const RunResult patient =
            snctl({"-p", device, "scan", "--slaves", "1", "--timeout", "2000"});
        EXPECT_EQ(patient.status, 0) << device << ": " << patient.err;
        EXPECT_EQ(patient.out.rfind("slave 1: serial number", 0), 0u) << device << patient.err;
    }
}

}  // namespace

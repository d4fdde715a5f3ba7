// One master per bus: while snbusd holds the device, every other program
// that would open it (ours and picocom) is refused at once with who holds
// it, and nothing reaches the line; a holder killed leaves nothing behind.
#include <csignal>

#include "consoleProgram.h"
#include "daemonFixture.h"

namespace snbusd_test {

namespace {

using sntest::runProgram;
using sntest::RunResult;

TEST_F(DaemonTest, EveryOtherMasterIsRefusedWithTheWayThroughTheDaemon) {
    startDaemon();
    const std::string sentence =
        link + " is in use by PID " + std::to_string(daemon.pid()) +
        " (snbusd); reach the bus through tcp:127.0.0.1:" + std::to_string(port);
    sim.clearLog();
    RunResult run = runProgram({SNBUSD_PATH, "-p", link, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snbusd: " + sentence + "\n");
    run = runProgram({SNCTL_PATH, "-p", link, "info"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snctl: " + sentence + "\n");
    run = runProgram({SNCTL_PATH, "exporter", "--listen", "127.0.0.1:0", "--target", "n=" + link});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snctl: " + sentence + "\n");
    run = runProgram({SNTERM_PATH, "-p", link, "-t", "0"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Failure in openSensorNode: errno 16 Device or resource busy\n" +
                           sentence + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(sim.log().empty()) << "nothing reached the line";
    // The way it names works.
    run = runProgram({SNCTL_PATH, "-p", "tcp:127.0.0.1:" + std::to_string(port), "info"});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(DaemonTest, PicocomAndTheDaemonRefuseEachOthersDeviceAndAKilledHolderLeavesItFree) {
    startDaemon();
    sntest::ConsoleProgram picocom;
    ASSERT_TRUE(picocom.ok());
    ASSERT_TRUE(picocom.start("/usr/bin/picocom", {"-q", "-b", "115200", link}));
    ASSERT_TRUE(picocom.waitForOutput("FATAL: cannot lock", 10s)) << picocom.output();
    daemon.signal(SIGKILL);
    daemon.wait(5s);

    sntest::ConsoleProgram holder;
    ASSERT_TRUE(holder.start("/usr/bin/picocom", {"-b", "115200", link}));
    ASSERT_TRUE(holder.waitForOutput("Terminal ready", 10s)) << holder.output();
    RunResult run = runProgram({SNBUSD_PATH, "-p", link, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snbusd: " + link + " is in use by PID " + std::to_string(holder.pid()) +
                           " (picocom)\n");
    holder.sendSignal(SIGKILL);
    ASSERT_TRUE(holder.waitForExit(5s).has_value());
    startDaemon();
    EXPECT_EQ(RawClient(port).ask(1, {3, 0, 15, 0, 1}).has_value(), true);
}

TEST_F(DaemonTest, AnAbsentDeviceIsAnErrorUnlessTheDaemonIsToldToWait) {
    const std::string absent = dir + "/absent";
    RunResult run = runProgram({SNBUSD_PATH, "-p", absent, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "snbusd: cannot open " + absent + ": No such file or directory\n");
    sntest::BusDaemonProcess waiting;
    ASSERT_TRUE(waiting.start(SNBUSD_PATH, absent, {"--wait-for-device"}));
    EXPECT_NE(waiting.log().find("cannot open " + absent +
                                 ": No such file or directory; waiting for the device"),
              std::string::npos)
        << waiting.log();
    waiting.signal(SIGTERM);
    EXPECT_EQ(waiting.wait(10s).status, 0);
}

}  // namespace

}  // namespace snbusd_test

// snterm through the bus daemon: the real executable on a pty console,
// against a TCP server that goes away and comes back.
#include "consoleProgram.h"
#include "modbusTcpServer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;

TEST(TcpTerminal, SurvivesADaemonRestartAndEndsWhenTheDaemonStaysAway) {
    sntest::ModbusTcpServer server;
    ASSERT_TRUE(server.start());
    sntest::ConsoleProgram console;
    ASSERT_TRUE(console.ok());
    ASSERT_TRUE(console.start(SNTERM_PATH, {"-p", server.deviceName(), "-t", "0"}));
    ASSERT_TRUE(console.waitForOutput("Using serial port 0 at 9600,N81", kWait))
        << console.output();

    server.stop();
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(server.start());
    server.clearRequests();
    // It polls the port again over a new connection.
    ASSERT_TRUE(server.waitForRequests(1, kWait)) << console.output();
    EXPECT_EQ(server.accepted(), 2);
    EXPECT_TRUE(console.running()) << console.output();
    EXPECT_EQ(console.output().find("Modbus device lost"), std::string::npos);

    // Gone for good: it ends once the grace has passed.
    server.stop();
    const auto status = console.waitForExit(kWait + 5s);
    ASSERT_TRUE(status.has_value()) << console.output();
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    EXPECT_NE(console.output().find("Modbus device lost: errno 111 Connection refused\r\n"),
              std::string::npos)
        << console.output();
}

}  // namespace

namespace {

// Nothing at the address: the terminal's own failure line stays as it is,
// and the sentence after it asks what a user would check first.
TEST(TcpTerminal, NothingListeningIsReportedWithTheDaemonHint) {
    sntest::ModbusTcpServer server;
    ASSERT_TRUE(server.start());
    const std::string name = server.deviceName();
    server.stop();
    sntest::ConsoleProgram console;
    ASSERT_TRUE(console.ok());
    ASSERT_TRUE(console.start(SNTERM_PATH, {"-p", name, "-t", "0"}));
    const auto status = console.waitForExit(kWait);
    ASSERT_TRUE(status.has_value()) << console.output();
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    const std::string address = name.substr(4);
    EXPECT_NE(console.output().find("Failure in openSensorNode: errno 111 Connection refused\r\n"
                                    "nothing listens at " +
                                    address + " \u2014 is snbusd running?\r\n"),
              std::string::npos)
        << console.output();
}

}  // namespace

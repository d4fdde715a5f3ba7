// A pty someone's program runs on is a terminal; one only a program holds
// open as its line is not: a device that comes back is opened again only
// when it is not a person's.
#include "sncommon/pseudoTerminal.h"
#include "sncommon/sessionTerminal.h"

#include <gtest/gtest.h>

#include <signal.h>

#include "consoleProgram.h"

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(SessionTerminal, AConsoleIsOneAndALineIsNot) {
    sntest::ConsoleProgram console;
    ASSERT_TRUE(console.ok());
    ASSERT_TRUE(console.start("/bin/sleep", {"10"}));
    // Its console, once the child has it as its standard output.
    const std::string fd1 = "/proc/" + std::to_string(console.pid()) + "/fd/1";
    char path[256] = {};
    for (int i = 0; i < 100 && std::string(path).rfind("/dev/pts/", 0) != 0; ++i) {
        std::this_thread::sleep_for(20ms);
        const ssize_t n = readlink(fd1.c_str(), path, sizeof path - 1);
        path[n > 0 ? n : 0] = '\0';
    }
    ASSERT_EQ(std::string(path).rfind("/dev/pts/", 0), 0u) << path;
    EXPECT_TRUE(sncommon::isSessionTerminal(path)) << path;

    const sncommon::PseudoTerminal line{sncommon::PseudoTerminalOptions{}};
    EXPECT_FALSE(sncommon::isSessionTerminal(line.slavePath())) << line.slavePath();
    EXPECT_FALSE(sncommon::isSessionTerminal("/dev/null"));
    EXPECT_FALSE(sncommon::isSessionTerminal("/nonexistent/device"));
    console.sendSignal(SIGTERM);
    console.waitForExit(5s);
}

}  // namespace

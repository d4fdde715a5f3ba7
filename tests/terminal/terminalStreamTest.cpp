// The terminal keeps up with its port: a paste longer than the node takes at
// once comes back whole, and a long stream from the instrument arrives byte
// for byte, at the default speed and above, with the node's overrun flag clear.
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "consoleProgram.h"
#include "snsim/emulator.h"

namespace {

using namespace std::chrono_literals;
using sntest::ConsoleOptions;
using sntest::ConsoleProgram;

constexpr uint16_t kOverrunFlag = 0x0002;
constexpr int kErrorFlagsOfPort0 = 259;

// Printable only: no flow control, signal or end-of-input byte on the way.
std::string pattern(std::size_t size) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('!' + (i * 7 + i / 94) % 94);
    return text;
}

class TerminalStream : public ::testing::TestWithParam<int> {
protected:
    void startOn(snsim::Attachment port0) {
        snsim::Options options;
        options.ports[0] = std::move(port0);
        // Answers take their real time on the Modbus line (115200 bit/s,
        // snterm's default), as on hardware.
        options.lineTiming = true;
        emulator_ = std::make_unique<snsim::Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        const std::string baud = std::to_string(GetParam());
        ASSERT_TRUE(console_.start(SNTERM_PATH, {"-p", emulator_->devicePath(), "-b", baud},
                                   ConsoleOptions{.outputProcessing = false}));
        ASSERT_TRUE(console_.waitForOutput("Using serial port 0 at " + baud + ",N81\n", 10s))
            << console_.output();
        shownBefore_ = console_.output().size();
    }

    std::string relayed() const { return console_.output().substr(shownBefore_); }

    void endNormally() {
        console_.type("\x04");
        const auto status = console_.waitForExit(10s);
        ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
        EXPECT_EQ(emulator_->reg(kErrorFlagsOfPort0) & kOverrunFlag, 0) << "the node lost bytes";
    }

    std::unique_ptr<snsim::Emulator> emulator_;
    ConsoleProgram console_;
    std::size_t shownBefore_ = 0;
};

class TerminalPaste : public TerminalStream {};
class TerminalCommandStream : public TerminalStream {};

TEST_P(TerminalPaste, LargerThanTheNodeTakesComesBackWholeThroughALoopback) {
    startOn(snsim::Attachment{snsim::Attachment::Kind::Loopback, "", ""});
    const std::string paste = pattern(4096);
    console_.type(paste);
    // 4 KiB take 4.3 s at 9600 bit/s; the wait is for a stall, not a rate.
    std::size_t seen = 0;
    while (console_.waitForOutputSize(shownBefore_ + paste.size(), 5s) == false) {
        if (console_.output().size() == seen) break;
        seen = console_.output().size();
    }
    EXPECT_EQ(relayed(), paste);
    endNormally();
}

// 30 s of a command's output: lines of 38 characters, CR LF as its
// terminal ends them.  It starts once "go" has been typed, so the node's
// buffer has not filled before the terminal was there.
TEST_P(TerminalCommandStream, ThirtySecondsOfOutputArriveByteForByte) {
    const std::string line = "0123456789abcdefghijklmnopqrstuvwxyz";
    startOn(snsim::Attachment{snsim::Attachment::Kind::Exec, "read go; yes " + line, ""});
    console_.type("go\r");
    console_.drainFor(30s);  // read all the while, as a console would
    const std::string shown = relayed();
    const std::string echo = "go\r\n";
    ASSERT_EQ(shown.substr(0, echo.size()), echo);
    const std::string lines = shown.substr(echo.size());
    const std::string expected = line + "\r\n";
    ASSERT_GT(lines.size(), 10 * expected.size());
    for (std::size_t at = 0; at < lines.size(); at += expected.size()) {
        const std::string got = lines.substr(at, expected.size());
        ASSERT_EQ(got, expected.substr(0, got.size()))
            << "at byte " << at << " of " << lines.size();
    }
    endNormally();
}

std::string speedName(const testing::TestParamInfo<int>& info) {
    return "at" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(DefaultSpeedAndAbove, TerminalPaste, testing::Values(9600, 19200),
                         speedName);
INSTANTIATE_TEST_SUITE_P(DefaultSpeedAndAbove, TerminalCommandStream, testing::Values(9600, 38400),
                         speedName);

}  // namespace

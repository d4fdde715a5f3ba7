// The real snterm executable on a pseudo-terminal, against the emulated node.
#include "consoleProgram.h"
#include "simProcess.h"

#include <snsim/emulator.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;
using sntest::ConsoleOptions;
using sntest::ConsoleProgram;
using sntest::sameSettings;

constexpr auto kWait = 10s;
const std::string kPortReady = "Using serial port 0 at 9600,N81";

class TerminalEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        snsim::Options options;
        options.ports[0].kind = snsim::Attachment::Kind::None;  // the test is the instrument
        emulator_ = std::make_unique<snsim::Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        ASSERT_TRUE(console_.ok());
        before_ = console_.consoleSettings();
    }

    // Starts snterm on the emulator's device and waits for its relay to run.
    void startRelaying(std::vector<std::string> args = {}, ConsoleOptions options = {}) {
        args.insert(args.begin(), {"-p", emulator_->devicePath()});
        ASSERT_TRUE(console_.start(SNTERM_PATH, args, options));
        ASSERT_TRUE(console_.waitForOutput(kPortReady, kWait)) << console_.output();
    }

    // Everything the node has put on port 0's line, once `size` bytes came.
    std::string portOutput(std::size_t size) {
        std::string taken;
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (taken.size() < size && std::chrono::steady_clock::now() < deadline) {
            const auto bytes = emulator_->takePortOutput(0);
            taken.append(bytes.begin(), bytes.end());
            std::this_thread::sleep_for(10ms);
        }
        return taken;
    }

    void expectConsoleRestored() { EXPECT_TRUE(sameSettings(console_.consoleSettings(), before_)); }

    std::unique_ptr<snsim::Emulator> emulator_;
    ConsoleProgram console_;
    termios before_{};
};

int exitCode(std::optional<int> status) {
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

int endingSignal(std::optional<int> status) {
    return status && WIFSIGNALED(*status) ? WTERMSIG(*status) : 0;
}

TEST_F(TerminalEndToEnd, BannerThenTypedBytesReachThePortUnchanged) {
    startRelaying();
    const std::string banner = "Terminal for Modbus port " + emulator_->devicePath() +
                               "  baud 115200  slave 1 target serial port 0\r\n";
    EXPECT_EQ(console_.output(), banner + kPortReady + "\r\n");

    const termios raw = console_.consoleSettings();
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(raw.c_iflag & (ICRNL | INLCR), 0u);
    EXPECT_NE(raw.c_lflag & ISIG, 0u);

    console_.type("ab\rc");
    console_.type("x\x04y");  // a 4 that does not start a read is data
    EXPECT_EQ(portOutput(7), "ab\rcx\x04y");
    const std::size_t shown = console_.output().size();
    console_.drainFor(200ms);
    EXPECT_EQ(console_.output().size(), shown) << "typed bytes were echoed";
    EXPECT_TRUE(console_.running());
}

TEST_F(TerminalEndToEnd, EveryByteValueFromThePortReachesTheScreenExactly) {
    startRelaying({}, ConsoleOptions{.outputProcessing = false});
    const std::size_t shown = console_.output().size();
    std::vector<uint8_t> all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    emulator_->feedPort(0, all);
    ASSERT_TRUE(console_.waitForOutputSize(shown + all.size(), kWait));
    console_.drainFor(100ms);
    EXPECT_EQ(console_.output().substr(shown), std::string(all.begin(), all.end()));
}

TEST_F(TerminalEndToEnd, CtrlDAloneEndsNormallyAndRestoresTheConsole) {
    startRelaying();
    console_.type("\x04");
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 0);
    EXPECT_NE(console_.output().find(kPortReady + "\r\nNormal exit\r\n"), std::string::npos)
        << console_.output();
    expectConsoleRestored();
    EXPECT_TRUE(emulator_->takePortOutput(0).empty()) << "Ctrl-D must not be sent";
}

TEST_F(TerminalEndToEnd, PortThatCannotBeOpenedFailsWithRestoredConsole) {
    ASSERT_TRUE(console_.start(SNTERM_PATH, {"-p", emulator_->devicePath(), "-t", "3"}));
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 1);
    EXPECT_NE(console_.output().find("Failed snOpenSerial(), errno 22, Invalid argument\r\n"),
              std::string::npos)
        << console_.output();
    expectConsoleRestored();
}

TEST_F(TerminalEndToEnd, DeviceThatCannotBeOpenedFailsBeforeTouchingTheConsole) {
    ASSERT_TRUE(console_.start(SNTERM_PATH, {"-p", "/nonexistent/snterm-device"}));
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 1);
    EXPECT_EQ(console_.output(),
              "Terminal for Modbus port /nonexistent/snterm-device  baud 115200  slave 1 target "
              "serial port 0\r\nFailure in openSensorNode: errno 2 No such file or directory\r\n");
    expectConsoleRestored();
}

TEST_F(TerminalEndToEnd, UnsupportedModbusSpeedIsReportedAsAnOpenFailure) {
    // libmodbus would run such a line at 9600 without a word.
    ASSERT_TRUE(console_.start(SNTERM_PATH, {"-p", emulator_->devicePath(), "-m", "12345"}));
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 1);
    EXPECT_NE(console_.output().find("Failure in openSensorNode: errno 22 Invalid argument\r\n"),
              std::string::npos)
        << console_.output();
    EXPECT_TRUE(emulator_->log().empty());
}

// A whole session under valgrind: no leak and no memory error.
TEST_F(TerminalEndToEnd, FullSessionUnderValgrindIsClean) {
    const char* valgrind = "/usr/bin/valgrind";
#ifdef SN_SANITIZED
    GTEST_SKIP() << "the sanitizer build checks memory itself";
#endif
    if (access(valgrind, X_OK) != 0) {
        GTEST_SKIP() << "valgrind is not installed";
    }
    ASSERT_TRUE(console_.start(valgrind, {"-q", "--leak-check=full", "--error-exitcode=99",
                                          SNTERM_PATH, "-p", emulator_->devicePath()}));
    ASSERT_TRUE(console_.waitForOutput(kPortReady, 60s)) << console_.output();
    console_.type("typed");
    EXPECT_EQ(portOutput(5), "typed");
    emulator_->feedPort(0, {'s', 'e', 'e', 'n'});
    EXPECT_TRUE(console_.waitForOutput("seen", 30s)) << console_.output();
    console_.type("\x04");
    EXPECT_EQ(exitCode(console_.waitForExit(60s)), 0) << console_.output();
    expectConsoleRestored();
}

TEST_F(TerminalEndToEnd, SignalsRestoreTheConsoleAndStillEndTheProgram) {
    for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(signalNumber);
        ConsoleProgram console;
        const termios before = console.consoleSettings();
        ASSERT_TRUE(console.start(SNTERM_PATH, {"-p", emulator_->devicePath()}));
        ASSERT_TRUE(console.waitForOutput(kPortReady, kWait));
        if (signalNumber == SIGINT) {
            console.type("\x03");  // Ctrl-C still raises SIGINT in raw mode
        } else if (signalNumber == SIGQUIT) {
            console.type("\x1c");  // and Ctrl-\ SIGQUIT
        } else {
            console.sendSignal(signalNumber);
        }
        EXPECT_EQ(endingSignal(console.waitForExit(kWait)), signalNumber);
        EXPECT_TRUE(sameSettings(console.consoleSettings(), before));
    }
}

TEST_F(TerminalEndToEnd, EndOfInputKeepsPollingAtTheUsualPaceUntilSignalled) {
    startRelaying({}, ConsoleOptions{.stdinFromDevNull = true});
    std::this_thread::sleep_for(100ms);
    emulator_->clearLog();
    std::this_thread::sleep_for(1s);
    const std::size_t polls = emulator_->log().size();
    // About 50 a second; a spinning loop would make thousands.
    EXPECT_GE(polls, 10u);
    EXPECT_LE(polls, 200u);

    emulator_->feedPort(0, {'o', 'k'});
    EXPECT_TRUE(console_.waitForOutput("ok", kWait)) << "port no longer relayed";
    console_.sendSignal(SIGTERM);
    EXPECT_EQ(endingSignal(console_.waitForExit(kWait)), SIGTERM);
    expectConsoleRestored();
}

// In the background the keyboard reads fail (EIO: a shell that ignores
// SIGTTIN for its jobs).  That is no reason to stop reading for good: once
// the terminal is back in the foreground, what was typed goes out.
TEST_F(TerminalEndToEnd, FailedKeyboardReadsInTheBackgroundDoNotEndTyping) {
    const std::string jobControl =
        "trap '' TTIN TTOU; set -m; \"$0\" -p \"$1\" & sleep 1; fg %1 >/dev/null";
    ASSERT_TRUE(
        console_.start("/bin/bash", {"-c", jobControl, SNTERM_PATH, emulator_->devicePath()}));
    ASSERT_TRUE(console_.waitForOutput(kPortReady, kWait)) << console_.output();
    emulator_->clearLog();
    console_.type("hello");
    std::this_thread::sleep_for(400ms);
    // A failing read must not make the loop spin.
    EXPECT_LE(emulator_->log().size(), 100u);
    EXPECT_EQ(portOutput(5), "hello");
    console_.type("\x04");
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 0) << console_.output();
    EXPECT_TRUE(console_.waitForOutput("Normal exit", kWait));
}

// Ctrl-Z gives the shell its console back as it was found; fg makes it raw
// again, so typing is relayed as before and Ctrl-D still ends the program.
TEST_F(TerminalEndToEnd, StoppedTerminalLeavesTheConsoleAsFoundAndContinuesRaw) {
    const std::string jobControl =
        "set -m; \"$0\" -p \"$1\"; echo \"stopped $?\"; read -r go; fg >/dev/null";
    ASSERT_TRUE(
        console_.start("/bin/bash", {"-c", jobControl, SNTERM_PATH, emulator_->devicePath()}));
    ASSERT_TRUE(console_.waitForOutput(kPortReady, kWait)) << console_.output();
    console_.type("\x1a");  // Ctrl-Z
    ASSERT_TRUE(console_.waitForOutput("stopped 148", kWait)) << console_.output();
    EXPECT_TRUE(sameSettings(console_.consoleSettings(), before_)) << "cooked while stopped";
    console_.type("\n");  // the shell's read, then fg
    const auto raw = [this] { return (console_.consoleSettings().c_lflag & ICANON) == 0; };
    for (int i = 0; i < 500 && !raw(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(raw()) << "raw again once continued";
    emulator_->clearLog();
    console_.type("z");
    EXPECT_EQ(portOutput(1), "z");
    console_.type("\x04");
    EXPECT_TRUE(console_.waitForOutput("Normal exit", kWait)) << console_.output();
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 0);
}

// An adapter pulled out: one line, then the terminal waits (trying each
// second, silently) until Ctrl-D ends it.
TEST_F(TerminalEndToEnd, UnpluggedDeviceIsWaitedForInOneLineUntilCtrlD) {
    startRelaying();
    emulator_->unplug();
    const std::string gone =
        emulator_->devicePath() + " is gone; waiting for it to come back (Ctrl-D ends)\r\n";
    ASSERT_TRUE(console_.waitForOutput(gone, kWait)) << console_.output();
    console_.drainFor(2500ms);
    ASSERT_TRUE(console_.running());
    const std::string& shown = console_.output();
    EXPECT_EQ(shown.substr(shown.find(gone)), gone) << "nothing after the one line";
    console_.type("\x04");
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 0);
    EXPECT_NE(console_.output().find(gone + "Normal exit"), std::string::npos) << console_.output();
    expectConsoleRestored();
}

TEST_F(TerminalEndToEnd, SilentNodeDoesNotEndTheTerminal) {
    startRelaying();
    emulator_->setFault(snsim::Fault::NoAnswer);
    console_.type("q");  // a write that times out too
    console_.drainFor(1500ms);
    ASSERT_TRUE(console_.running()) << console_.output();

    emulator_->setFault(snsim::Fault::None);
    emulator_->feedPort(0, {'b', 'a', 'c', 'k'});
    EXPECT_TRUE(console_.waitForOutput("back", kWait)) << console_.output();
    console_.type("\x04");
    EXPECT_EQ(exitCode(console_.waitForExit(kWait)), 0);
}

// The emulator stopped (its link and pty removed) and started again on the
// same link, as an adapter unplugged and plugged back: the terminal says
// so and relays again by itself.
TEST(TerminalWithSimExecutable, ADeviceThatComesBackIsRelayedAgain) {
    char dirTemplate[] = "/tmp/snterm-return-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string link = std::string(dirTemplate) + "/node";
    sntest::SimProcess sim;
    ASSERT_TRUE(sim.start(SNSIM_PATH, {"--link", link, "--port0", "loopback"}, kWait));
    ConsoleProgram console;
    ASSERT_TRUE(console.start(SNTERM_PATH, {"-p", link, "-b", "19200"}));
    ASSERT_TRUE(console.waitForOutput("N81\r\n", kWait)) << console.output();
    console.type("before");
    EXPECT_TRUE(console.waitForOutput("N81\r\nbefore", kWait)) << console.output();

    ASSERT_TRUE(sim.stop(kWait));
    const std::string gone = link + " is gone; waiting for it to come back (Ctrl-D ends)\r\n";
    EXPECT_TRUE(console.waitForOutput("before" + gone, kWait)) << console.output();
    console.drainFor(1500ms);
    ASSERT_TRUE(console.running()) << console.output();
    ASSERT_TRUE(sim.start(SNSIM_PATH, {"--link", link, "--port0", "loopback"}, kWait));
    EXPECT_TRUE(console.waitForOutput(gone + link + " is back\r\n", kWait)) << console.output();
    console.type("after");
    EXPECT_TRUE(console.waitForOutput("is back\r\nafter", kWait)) << console.output();
    console.type("\x04");
    EXPECT_EQ(exitCode(console.waitForExit(kWait)), 0);
    EXPECT_TRUE(sim.stop(kWait));
    std::filesystem::remove_all(dirTemplate);
}

TEST(TerminalWithSimExecutable, TypedTextComesBackThroughALoopbackPort) {
    sntest::SimProcess sim;
    ASSERT_TRUE(sim.start(SNSIM_PATH, {"--port0", "loopback"}, kWait));
    ConsoleProgram console;
    ASSERT_TRUE(console.start(SNTERM_PATH, {"-p", sim.device(), "-b", "19200"}));
    ASSERT_TRUE(console.waitForOutput("Using serial port 0 at 19200,N81\r\n", kWait))
        << console.output();
    console.type("hello");
    EXPECT_TRUE(console.waitForOutput("N81\r\nhello", kWait)) << console.output();
    console.type("\x04");
    EXPECT_EQ(exitCode(console.waitForExit(kWait)), 0);
    EXPECT_TRUE(sim.stop(kWait));
}

}  // namespace

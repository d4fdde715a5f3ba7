#include "consoleProgram.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "sncommon/fdTransfer.h"

namespace sntest {

using Clock = std::chrono::steady_clock;

ConsoleProgram::ConsoleProgram() {
    sncommon::PseudoTerminalOptions options;
    options.raw = false;  // a console as a new terminal starts: echo, lines
    try {
        pty_ = std::make_unique<sncommon::PseudoTerminal>(options);
    } catch (const std::system_error&) {
        pty_.reset();
    }
}

bool ConsoleProgram::start(const std::string& path, const std::vector<std::string>& args,
                           ConsoleOptions options) {
    if (!ok()) return false;
    if (!options.outputProcessing) {
        termios settings = consoleSettings();
        settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tcsetattr(pty_->slave(), TCSANOW, &settings);
    }
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    const int console = pty_->slave();
    return child_.start(argv, {options.stdinFromDevNull ? -1 : console, console, console, console});
}

termios ConsoleProgram::consoleSettings() const {
    termios settings{};
    if (ok()) tcgetattr(pty_->slave(), &settings);
    return settings;
}

void ConsoleProgram::type(std::string_view bytes) {
    if (ok()) sncommon::writeAll(pty_->master(), bytes.data(), bytes.size(), milliseconds(5000));
}

void ConsoleProgram::readAvailable(milliseconds wait) {
    pollfd watched{pty_->master(), POLLIN, 0};
    if (poll(&watched, 1, static_cast<int>(wait.count())) <= 0) return;
    char chunk[4096];
    const ssize_t got = read(pty_->master(), chunk, sizeof chunk);
    if (got > 0) {
        output_.append(chunk, static_cast<std::size_t>(got));
    } else {
        std::this_thread::sleep_for(wait);  // nothing more to come now
    }
}

bool ConsoleProgram::waitForOutput(std::string_view text, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        if (Clock::now() >= deadline) return false;
        readAvailable(milliseconds(20));
    }
    return true;
}

bool ConsoleProgram::waitForOutputSize(std::size_t size, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.size() < size) {
        if (Clock::now() >= deadline) return false;
        readAvailable(milliseconds(20));
    }
    return true;
}

void ConsoleProgram::drainFor(milliseconds period) {
    const auto deadline = Clock::now() + period;
    while (Clock::now() < deadline) readAvailable(milliseconds(10));
}

std::string ConsoleProgram::newOutput(milliseconds wait) {
    if (output_.size() == taken_) readAvailable(wait);
    readAvailable(milliseconds(0));
    std::string fresh = output_.substr(taken_);
    taken_ = output_.size();
    return fresh;
}

std::optional<int> ConsoleProgram::waitForExit(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (!running() && child_.exitStatus()) {
            drainFor(milliseconds(20));
            return child_.exitStatus();
        }
        if (Clock::now() >= deadline) return std::nullopt;
        readAvailable(milliseconds(10));
    }
}

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace sntest

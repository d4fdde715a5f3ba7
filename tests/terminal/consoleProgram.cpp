#include "consoleProgram.h"

#include "execArgs.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <cstring>
#include <thread>

namespace snterm_test {

using Clock = std::chrono::steady_clock;

ConsoleProgram::ConsoleProgram() {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
    }
}

ConsoleProgram::~ConsoleProgram() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
        close(master_);
    }
    if (slave_ >= 0) {
        close(slave_);
    }
}

bool ConsoleProgram::start(const std::string& path, const std::vector<std::string>& args,
                           ConsoleOptions options) {
    termios settings = consoleSettings();
    if (!options.outputProcessing) {
        settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tcsetattr(slave_, TCSANOW, &settings);
    }
    const ExecArgs command(path, args);

    pid_ = fork();
    if (pid_ == 0) {
        close(master_);
        const int console = dup(slave_);  // login_tty closes what it is given
        login_tty(console);
        if (options.stdinFromDevNull) {
            const int devNull = open("/dev/null", O_RDONLY);
            dup2(devNull, STDIN_FILENO);
        }
        execv(command.path(), command.argv());
        _exit(127);
    }
    return pid_ > 0;
}

termios ConsoleProgram::consoleSettings() const {
    termios settings{};
    tcgetattr(slave_, &settings);
    return settings;
}

void ConsoleProgram::type(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(master_, bytes.data(), bytes.size());
        if (written <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void ConsoleProgram::readAvailable(milliseconds wait) {
    pollfd watched{master_, POLLIN, 0};
    if (poll(&watched, 1, static_cast<int>(wait.count())) <= 0) {
        return;
    }
    char chunk[4096];
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got > 0) {
        output_.append(chunk, static_cast<std::size_t>(got));
    } else {
        std::this_thread::sleep_for(wait);  // nothing more to come now
    }
}

bool ConsoleProgram::waitForOutput(std::string_view text, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        if (Clock::now() >= deadline) {
            return false;
        }
        readAvailable(milliseconds(20));
    }
    return true;
}

bool ConsoleProgram::waitForOutputSize(std::size_t size, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.size() < size) {
        if (Clock::now() >= deadline) {
            return false;
        }
        readAvailable(milliseconds(20));
    }
    return true;
}

void ConsoleProgram::drainFor(milliseconds period) {
    const auto deadline = Clock::now() + period;
    while (Clock::now() < deadline) {
        readAvailable(milliseconds(10));
    }
}

std::optional<int> ConsoleProgram::waitForExit(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (!running() && exitStatus_) {
            drainFor(milliseconds(20));
            return exitStatus_;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        readAvailable(milliseconds(10));
    }
}

bool ConsoleProgram::running() {
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitStatus_ = status;
    }
    return pid_ > 0;
}

void ConsoleProgram::sendSignal(int signalNumber) {
    if (pid_ > 0) {
        kill(pid_, signalNumber);
    }
}

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace snterm_test

#include "simProcess.h"

#include "execArgs.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace snterm_test {

using Clock = std::chrono::steady_clock;

SimProcess::~SimProcess() {
    if (pid_ > 0 && !stop(std::chrono::seconds(5))) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (stdoutPipe_ >= 0) {
        close(stdoutPipe_);
    }
}

bool SimProcess::start(const std::string& path, const std::vector<std::string>& args,
                       std::chrono::milliseconds timeout) {
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    const ExecArgs command(path, args);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(command.path(), command.argv());
        _exit(127);
    }
    close(fds[1]);
    stdoutPipe_ = fds[0];
    return pid_ > 0 && readReadyLine(timeout);
}

bool SimProcess::readReadyLine(std::chrono::milliseconds timeout) {
    const std::string prefix = "snsim ready on ";
    const auto deadline = Clock::now() + timeout;
    std::string text;
    while (Clock::now() < deadline) {
        const auto newline = text.find('\n');
        if (newline != std::string::npos) {
            const auto start = text.find(prefix);
            if (start == std::string::npos || start > newline) {
                return false;
            }
            device_ = text.substr(start + prefix.size(), newline - start - prefix.size());
            return true;
        }
        pollfd watched{stdoutPipe_, POLLIN, 0};
        char chunk[256];
        if (poll(&watched, 1, 50) > 0) {
            const ssize_t got = read(stdoutPipe_, chunk, sizeof chunk);
            if (got <= 0) {
                return false;
            }
            text.append(chunk, static_cast<std::size_t>(got));
        }
    }
    return false;
}

bool SimProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return true;
    }
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace snterm_test

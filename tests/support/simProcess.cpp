#include "simProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace sntest {

using Clock = std::chrono::steady_clock;

SimProcess::~SimProcess() {
    if (child_.pid() > 0 && !stop(std::chrono::seconds(5))) child_.stop(SIGKILL, {});
    if (stdoutPipe_ >= 0) close(stdoutPipe_);
}

bool SimProcess::start(const std::string& path, const std::vector<std::string>& args,
                       std::chrono::milliseconds timeout) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    const bool started = child_.start(argv, {-1, fds[1], STDERR_FILENO});
    close(fds[1]);
    stdoutPipe_ = fds[0];
    return started && readReadyLine(timeout);
}

bool SimProcess::readReadyLine(std::chrono::milliseconds timeout) {
    const std::string prefix = "snsim ready on ";
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const auto start = output_.find(prefix);
        const auto newline = start == std::string::npos ? start : output_.find('\n', start);
        if (newline != std::string::npos) {
            device_ = output_.substr(start + prefix.size(), newline - start - prefix.size());
            return true;
        }
        pollfd watched{stdoutPipe_, POLLIN, 0};
        char chunk[256];
        if (poll(&watched, 1, 50) <= 0) continue;
        const ssize_t got = read(stdoutPipe_, chunk, sizeof chunk);
        if (got <= 0) return false;
        output_.append(chunk, static_cast<std::size_t>(got));
    }
    return false;
}

bool SimProcess::stop(std::chrono::milliseconds timeout) {
    if (child_.pid() <= 0 || child_.exitStatus()) return true;
    child_.signal(SIGTERM);
    return child_.wait(timeout).has_value();
}

}  // namespace sntest

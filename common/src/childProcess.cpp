#include "sncommon/childProcess.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace sncommon {

namespace {

using Clock = std::chrono::steady_clock;

// Child side, between fork and exec: async-signal-safe calls only, since
// the parent may have threads.
void resetSignals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP, SIGCONT}) {
        ::signal(number, SIG_DFL);
    }
}

// Moves the wanted descriptors above 2 first, so that placing one cannot
// overwrite another still to be placed.
bool placeDescriptors(const ChildIo& io) {
    int wanted[3] = {io.in, io.out, io.err};
    for (int& fd : wanted) {
        if (fd < 0) fd = open("/dev/null", O_RDWR);
        if (fd < 0) return false;
        fd = fcntl(fd, F_DUPFD, 3);
        if (fd < 0) return false;
    }
    for (int target = 0; target < 3; ++target) {
        if (dup2(wanted[target], target) < 0) return false;
    }
    return true;
}

[[noreturn]] void runChild(char* const* argv, const ChildIo& io) {
    resetSignals();
    if (io.terminal >= 0) {
        setsid();
        ioctl(io.terminal, TIOCSCTTY, 0);
    } else if (io.processGroup) {
        setpgid(0, 0);
    }
    if (!placeDescriptors(io)) _exit(126);
    execvp(argv[0], argv);
    _exit(127);
}

}  // namespace

pid_t startChild(const std::vector<std::string>& argv, const ChildIo& io) {
    if (argv.empty()) {
        errno = EINVAL;
        return -1;
    }
    // Built before fork: the child must not allocate.
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) runChild(args.data(), io);
    // Also from this side, so that the group exists before fork returns here.
    if (pid > 0 && io.processGroup && io.terminal < 0) setpgid(pid, pid);
    return pid;
}

std::optional<int> waitForChild(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int endChild(pid_t pid, int signalNumber, std::chrono::milliseconds grace, bool group) {
    kill(group ? -pid : pid, signalNumber);
    if (const auto status = waitForChild(pid, grace)) {
        if (group) kill(-pid, SIGKILL);  // what it started goes with it
        return *status;
    }
    kill(group ? -pid : pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) stop(SIGKILL, std::chrono::seconds(5));
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildIo& io) {
    status_.reset();
    group_ = io.processGroup || io.terminal >= 0;  // a new session is a new group
    pid_ = startChild(argv, io);
    return pid_ > 0;
}

bool ChildProcess::running() {
    if (pid_ <= 0 || status_) return false;
    status_ = waitForChild(pid_, std::chrono::milliseconds(0));
    return !status_;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (pid_ > 0 && !status_) status_ = waitForChild(pid_, timeout);
    return status_;
}

void ChildProcess::signal(int signalNumber) const {
    if (pid_ > 0 && !status_) kill(pid_, signalNumber);
}

int ChildProcess::stop(int signalNumber, std::chrono::milliseconds grace) {
    if (pid_ > 0 && !status_) status_ = endChild(pid_, signalNumber, grace, group_);
    return status_.value_or(-1);
}

}  // namespace sncommon

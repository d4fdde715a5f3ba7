#include "childProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace snctl_test {

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string makeTempFile() {
    char path[] = "/tmp/snctl-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    close(fd);
    return path;
}

// Runs in the forked child of a threaded parent: system calls only, no
// allocation.
[[noreturn]] void execChild(char* const* args, const char* out, const char* err) {
    const int outFd = open(out, O_WRONLY | O_TRUNC);
    const int errFd = open(err, O_WRONLY | O_TRUNC);
    const int nullFd = open("/dev/null", O_RDONLY);
    if (outFd < 0 || errFd < 0 || nullFd < 0) _exit(126);
    dup2(nullFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execv(args[0], args);
    _exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (!outPath_.empty()) unlink(outPath_.c_str());
    if (!errPath_.empty()) unlink(errPath_.c_str());
}

bool ChildProcess::start(const std::vector<std::string>& argv) {
    outPath_ = makeTempFile();
    errPath_ = makeTempFile();
    if (argv.empty() || outPath_.empty() || errPath_.empty()) return false;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) execChild(args.data(), outPath_.c_str(), errPath_.c_str());
    return pid_ > 0;
}

RunResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    pid_t done = 0;
    while (pid_ > 0 && (done = waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid_ > 0 && done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    } else if (done == pid_ && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    pid_ = -1;
    result.out = readFile(outPath_);
    result.err = readFile(errPath_);
    return result;
}

void ChildProcess::signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
}

std::string ChildProcess::errorsSoFar() const { return readFile(errPath_); }

RunResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ChildProcess child;
    if (!child.start(argv)) return {};
    return child.wait(timeout);
}

}  // namespace snctl_test

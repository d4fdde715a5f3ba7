#include "capturedProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sntest {

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A temporary file, open for the child to write; its path in `path`.
int makeTempFile(std::string& path) {
    char name[] = "/tmp/sntest-output-XXXXXX";
    const int fd = mkostemp(name, O_CLOEXEC);
    if (fd >= 0) path = name;
    return fd;
}

}  // namespace

CapturedProcess::~CapturedProcess() {
    child_.stop(SIGKILL, std::chrono::seconds(5));
    if (!outPath_.empty()) unlink(outPath_.c_str());
    if (!errPath_.empty()) unlink(errPath_.c_str());
}

bool CapturedProcess::start(const std::vector<std::string>& argv) {
    const int out = makeTempFile(outPath_);
    const int err = makeTempFile(errPath_);
    const bool started = out >= 0 && err >= 0 && child_.start(argv, {-1, out, err});
    if (out >= 0) close(out);
    if (err >= 0) close(err);
    return started;
}

RunResult CapturedProcess::wait(std::chrono::milliseconds timeout) {
    RunResult result;
    const std::optional<int> status = child_.wait(timeout);
    if (!status) {
        child_.stop(SIGKILL, std::chrono::seconds(5));
    } else if (WIFEXITED(*status)) {
        result.status = WEXITSTATUS(*status);
    }
    result.out = readFile(outPath_);
    result.err = readFile(errPath_);
    return result;
}

std::string CapturedProcess::outputSoFar() const { return readFile(outPath_); }
std::string CapturedProcess::errorsSoFar() const { return readFile(errPath_); }

RunResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    CapturedProcess child;
    if (!child.start(argv)) return {};
    return child.wait(timeout);
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word)
        if (word == "VmRSS:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
    return -1;
}

}  // namespace sntest

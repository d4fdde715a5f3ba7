// A program run as a child with its output captured, for tests that drive
// the real executables.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace snctl_test {

struct RunResult {
    int status = -1;  // exit status; -1 when killed or not run
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // SIGKILL if still running, then reaped
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with stdout and stderr going to files.
    bool start(const std::vector<std::string>& argv);
    // Waits for the end; kills it after `timeout` (status -1 then).
    RunResult wait(std::chrono::milliseconds timeout);
    // Sends `signal` to the child.
    void signal(int signal) const;
    // What it has written to stderr so far.
    std::string errorsSoFar() const;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
};

// start + wait in one: the usual way to run one snctl command.
RunResult runProgram(const std::vector<std::string>& argv,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace snctl_test

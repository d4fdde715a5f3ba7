// A program run as a child with its output captured, for tests that drive
// the real executables.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "sncommon/childProcess.h"

namespace sntest {

struct RunResult {
    int status = -1;  // exit status; -1 when killed or not run
    std::string out;
    std::string err;
};

class CapturedProcess {
public:
    CapturedProcess() = default;
    ~CapturedProcess();  // SIGKILL if still running, then reaped
    CapturedProcess(const CapturedProcess&) = delete;
    CapturedProcess& operator=(const CapturedProcess&) = delete;

    // Starts argv[0] (a path) with stdout and stderr going to files and
    // stdin at end of file.
    bool start(const std::vector<std::string>& argv);
    // Waits for the end; kills it after `timeout` (status -1 then).
    RunResult wait(std::chrono::milliseconds timeout);
    void signal(int signalNumber) const { child_.signal(signalNumber); }
    // What it has written to stdout and stderr so far.
    std::string outputSoFar() const;
    std::string errorsSoFar() const;
    pid_t pid() const { return child_.pid(); }
    // Reaps it if it has ended, so a crashed child is never taken for alive.
    bool running() { return child_.running(); }

private:
    sncommon::ChildProcess child_;
    std::string outPath_;
    std::string errPath_;
};

// start + wait in one: the usual way to run one command.
RunResult runProgram(const std::vector<std::string>& argv,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A running process's resident memory (VmRSS) in KiB; -1 when unknown.
long residentKiB(pid_t pid);

}  // namespace sntest

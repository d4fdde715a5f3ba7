// The snsim executable as a child process, ready once it names its device.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sncommon/childProcess.h"

namespace sntest {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();  // SIGTERM, then reaped
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it and waits for "snsim ready on DEVICE"; false on timeout or
    // when it ends first.
    bool start(const std::string& path, const std::vector<std::string>& args,
               std::chrono::milliseconds timeout);
    const std::string& device() const { return device_; }
    // Everything it printed up to and with the ready line.
    const std::string& output() const { return output_; }
    pid_t pid() const { return child_.pid(); }
    // Ends it with SIGTERM; true when it stopped by itself within timeout.
    bool stop(std::chrono::milliseconds timeout);
    // Sends a signal and leaves it be, as for a crash (SIGKILL).
    void signal(int signalNumber) { child_.signal(signalNumber); }
    // The wait status once it has ended by itself; nothing on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout) { return child_.wait(timeout); }
    std::optional<int> exitStatus() const { return child_.exitStatus(); }

private:
    bool readReadyLine(std::chrono::milliseconds timeout);

    sncommon::ChildProcess child_;
    int stdoutPipe_ = -1;
    std::string output_;
    std::string device_;
};

}  // namespace sntest

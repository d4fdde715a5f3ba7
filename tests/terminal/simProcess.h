// The snsim executable as a child process, ready once it names its device.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace snterm_test {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();  // SIGTERM, then reaped
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it and waits for "snsim ready on DEVICE"; false on timeout.
    bool start(const std::string& path, const std::vector<std::string>& args,
               std::chrono::milliseconds timeout);
    const std::string& device() const { return device_; }
    // Ends it with SIGTERM; true when it stopped by itself within timeout.
    bool stop(std::chrono::milliseconds timeout);

private:
    bool readReadyLine(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int stdoutPipe_ = -1;
    std::string device_;
};

}  // namespace snterm_test

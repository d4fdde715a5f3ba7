// The snbusd executable as a child process, on loopback ports of its own
// choosing, ready once it serves.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "capturedProcess.h"

namespace sntest {

class BusDaemonProcess {
public:
    // Starts it on `device` (--listen and --metrics on 127.0.0.1:0, plus
    // `extra`) and waits until it serves; false when it does not in time.
    bool start(const std::string& path, const std::string& device,
               const std::vector<std::string>& extra = {},
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    uint16_t port() const { return port_; }
    uint16_t metricsPort() const { return metricsPort_; }
    std::string tcpName() const { return "tcp:127.0.0.1:" + std::to_string(port_); }
    std::string log() const { return process_.errorsSoFar(); }
    pid_t pid() const { return process_.pid(); }
    void signal(int signalNumber) const { process_.signal(signalNumber); }
    RunResult wait(std::chrono::milliseconds timeout) { return process_.wait(timeout); }

private:
    CapturedProcess process_;
    uint16_t port_ = 0;
    uint16_t metricsPort_ = 0;
};

}  // namespace sntest

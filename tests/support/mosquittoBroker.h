// Debian's mosquitto as a child process on loopback ports of its own, its
// configuration (users, TLS) in a temporary directory, for the tests of
// the programs that publish on a broker; and its command-line clients
// against it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capturedProcess.h"

namespace sntest {

struct MosquittoOptions {
    // User name and password each; anonymous clients are refused once
    // there is one.
    std::vector<std::pair<std::string, std::string>> users;
    // A second listener with TLS, its certificate signed by caFile() for
    // 127.0.0.1 and localhost.
    bool tls = false;
    // Without it a restart() forgets sessions and retained messages.
    bool persistence = false;
};

class MosquittoBroker {
public:
    MosquittoBroker() = default;
    ~MosquittoBroker();  // stopped, its directory removed
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // Starts it and waits until every listener accepts TCP; false when
    // it does not in time (log() says why).
    bool start(const MosquittoOptions& options = {},
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void stop();
    // Stopped and started again on the same ports.
    bool restart(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    uint16_t port() const { return port_; }
    uint16_t tlsPort() const { return tlsPort_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    std::string tlsUrl() const { return "mqtts://127.0.0.1:" + std::to_string(tlsPort_); }
    std::string caFile() const { return dir_ + "/ca.crt"; }
    std::string directory() const { return dir_; }
    // What every run so far has logged.
    std::string log() const;

    // mosquitto_pub or mosquitto_sub (the name) on the plain listener, as
    // the first user when there are users.
    RunResult client(const std::string& program, const std::vector<std::string>& args,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // The message retained on `topic`; nothing when none comes in `wait`.
    std::optional<std::string> retained(const std::string& topic,
                                        std::chrono::seconds wait = std::chrono::seconds(2)) const;

private:
    bool prepare();
    bool writeConfig() const;
    bool launch(std::chrono::milliseconds timeout);

    MosquittoOptions options_;
    std::string dir_;
    uint16_t port_ = 0;
    uint16_t tlsPort_ = 0;
    std::unique_ptr<CapturedProcess> process_;
    std::string earlierLogs_;
};

}  // namespace sntest

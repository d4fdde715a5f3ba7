// The network thread of a port served over TCP: one client at a time, the
// next one accepted as soon as it has gone; others are refused with a log
// line, as are addresses outside --allow.
#pragma once

#include "bridgeOptions.h"
#include "clientPeer.h"
#include "relayNames.h"
#include "remoteClient.h"

#include "sncommon/stopSignals.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace snctl {

struct ServedCounts {
    uint64_t clients = 0;
    uint64_t refused = 0;
};

class RemoteServer {
public:
    // Throws DeviceError when it cannot listen.
    RemoteServer(const BridgeOptions& options, ClientPeer& peer, std::FILE* log);
    ~RemoteServer();
    RemoteServer(const RemoteServer&) = delete;
    RemoteServer& operator=(const RemoteServer&) = delete;

    // "HOST:PORT" it listens on (with the port the system chose for 0).
    const std::string& address() const { return address_; }
    // Serves until a stop signal or `stopped` is raised.
    void run(const sncommon::StopSignals& signals, const StopEvent& stopped);
    ServedCounts counts() const { return counts_; }

private:
    void serveOnce(const sncommon::StopSignals& signals);
    void accept();
    bool allowed(int fd) const;
    void serveClient(short revents);
    void dropClient(const std::string& why);

    const BridgeOptions& options_;
    ClientPeer& peer_;
    std::FILE* log_;
    int listener_ = -1;
    std::string address_;
    std::unique_ptr<RemoteClient> client_;
    ServedCounts counts_;
    bool stop_ = false;
};

}  // namespace snctl

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
#include <functional>
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
    // Serves until a stop signal (false) or until `done` says so (true);
    // the client stays connected either way.
    bool serve(const sncommon::StopSignals& signals, const std::function<bool()>& done);
    // Closes the client, if one is connected, as the bridge stops.
    void closeClient();
    ServedCounts counts() const { return counts_; }

private:
    void serveOnce(const sncommon::StopSignals& signals);
    void accept();
    bool allowed(int fd) const;
    void serveClient(short revents);
    // `inOrder`: it closed itself, or the bridge stops; what it sent is
    // still delivered.  Otherwise what it queued goes with it.
    void dropClient(const std::string& why, bool inOrder);

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

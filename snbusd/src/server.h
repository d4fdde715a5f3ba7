// The network side: accepts clients, takes their requests to the bus,
// writes the answers back, and enforces the limits on each connection.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "bus.h"
#include "clientConnection.h"
#include "eventLog.h"
#include "metrics.h"
#include "options.h"
#include "sncommon/stopSignals.h"

namespace snbusd {

class Server {
public:
    // Throws std::runtime_error when an address cannot be listened on.
    Server(const Options& options, Bus& bus, Metrics& metrics, EventLog& log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Serves until a stop signal; then stops accepting and returns.  The
    // clients stay until closeAll(), so that the answer of the transaction
    // still on the line can reach its client.
    void run(const sncommon::StopSignals& signals);
    // Writes what is ready (briefly) and closes every client.
    void closeAll();

private:
    bool serveOnce(const sncommon::StopSignals& signals);
    void accept(int listener);
    void readFrom(ClientConnection& client);
    bool takeRequests(ClientConnection& client);
    void answerTimeoutRequest(ClientConnection& client, const Request& request);
    void writeTo(ClientConnection& client);
    void deliverAnswers();
    void closeIdle();
    void closeStalledReaders();
    void close(ClientId id, const std::string& reason);
    int pollTimeoutMs() const;

    const Options& options_;
    Bus& bus_;
    Metrics& metrics_;
    EventLog& log_;
    std::vector<int> listeners_;
    std::map<ClientId, ClientConnection> clients_;
    ClientId nextId_ = 1;
};

}  // namespace snbusd

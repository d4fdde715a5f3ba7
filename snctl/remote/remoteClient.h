// One network client of a served port: its socket, its Telnet session and
// COM-PORT-OPTION state (none in raw mode), and what waits to be sent to
// it.  Owned and driven by the network thread alone.
#pragma once

#include "clientPeer.h"
#include "comPortOption.h"
#include "telnetSession.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace snctl {

class RemoteClient : private TelnetHandler {
public:
    using Clock = std::chrono::steady_clock;

    // Takes the connected socket; `line` is the port's line now.
    RemoteClient(int fd, std::string name, ClientPeer& peer, bool telnet, const PortLine& line);
    ~RemoteClient() override;  // closes the socket
    RemoteClient(const RemoteClient&) = delete;
    RemoteClient& operator=(const RemoteClient&) = delete;

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    // The poll events it waits for now.
    short events() const;
    // Reads what the socket has; false once the client is gone or broke
    // the protocol (why() says which).
    bool readSocket();
    // Sends what it can; false once the socket failed.
    bool writeSocket();
    // Hands over the port's error flags the client asked to hear of.
    void reportErrorFlags(uint16_t flags);
    // True after `limit` with data for it and none of it taken.
    bool stalled(Clock::time_point now, std::chrono::seconds limit) const;
    const std::string& why() const { return why_; }
    // True when it ended the connection itself, in order (not reset, not
    // closed for a fault).
    bool closedInOrder() const { return closedInOrder_; }
    // When a line change waiting for the rest of its burst is due, if one is.
    std::optional<Clock::time_point> lineDue() const;
    void passOnLineIfQuiet(Clock::time_point now);
    // What the port needs back when this client goes.
    std::vector<NodeAction> restore() const;

private:
    void telnetData(const uint8_t* data, std::size_t length) override;
    void telnetSend(const uint8_t* data, std::size_t length) override;
    void comPortCommand(uint8_t command, const uint8_t* value, std::size_t length) override;
    void comPortAgreed() override;
    void telnetBreak() override;
    void telnetError(const char* message) override;
    void passOnLine();

    int fd_;
    std::string name_;
    ClientPeer& peer_;
    std::unique_ptr<TelnetSession> telnet_;  // null in raw mode
    ComPortOption comPort_;
    bool agreed_ = false;
    bool failed_ = false;
    bool closedInOrder_ = false;
    std::string why_;
    std::optional<Clock::time_point> lineChangedAt_;
    std::vector<uint8_t> sending_;
    Clock::time_point lastProgress_;
};

}  // namespace snctl

// The Telnet side of a network client, on Debian's libtelnet: it takes the client's bytes in any
// split, keeps data apart from commands and negotiations, answers the options a serial port server
// has (BINARY, SGA, ECHO and COM-PORT-OPTION) and refuses every other once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct telnet_t;
union telnet_event_t;

namespace snctl {

inline constexpr uint8_t kComPortOption = 44;

// What the session makes of the client's bytes.  Called from receive() and
// the session's own sends, on the caller's thread.
class TelnetHandler {
public:
    virtual ~TelnetHandler() = default;
    virtual void telnetData(const uint8_t* data, std::size_t length) = 0;
    // Bytes for the client, Telnet-encoded already.
    virtual void telnetSend(const uint8_t* data, std::size_t length) = 0;
    // A COM-PORT-OPTION subnegotiation: its command and value, unescaped.
    virtual void comPortCommand(uint8_t command, const uint8_t* value, std::size_t length) = 0;
    // The client agreed to COM-PORT-OPTION.
    virtual void comPortAgreed() = 0;
    // The client sent Telnet's BREAK.
    virtual void telnetBreak() = 0;
    // The client broke the protocol (a subnegotiation without end, ...).
    virtual void telnetError(const char* message) = 0;
};

class TelnetSession {
public:
    explicit TelnetSession(TelnetHandler& handler);
    ~TelnetSession();
    TelnetSession(const TelnetSession&) = delete;
    TelnetSession& operator=(const TelnetSession&) = delete;

    // Our offers, sent once at the start of the connection.
    void start();
    void receive(const uint8_t* data, std::size_t length);
    // A COM-PORT-OPTION subnegotiation to the client (value escaped here).
    void sendComPort(uint8_t command, const uint8_t* value, std::size_t length);

    // Data for the client with every 0xFF doubled, appended to `out`.
    static void escapeData(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out);

private:
    static void onEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void handle(const telnet_event_t& event);

    TelnetHandler& handler_;
    telnet_t* telnet_;
};

}  // namespace snctl

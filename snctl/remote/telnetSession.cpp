#include "telnetSession.h"

#include <libtelnet.h>

#include <new>

namespace snctl {

namespace {

// What we do (us) and let the client do (him).  ECHO as a serial port
// server does: the instrument echoes, not we, but the client that asks for
// it is told yes.  Anything missing here is refused once by libtelnet's
// option state machine (RFC 1143), never negotiated in a loop.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_ECHO, TELNET_WILL, TELNET_DONT},
    {kComPortOption, TELNET_WILL, TELNET_DO},
    {-1, 0, 0},
};

}  // namespace

TelnetSession::TelnetSession(TelnetHandler& handler)
    : handler_(handler), telnet_(telnet_init(kOptions, &TelnetSession::onEvent, 0, this)) {
    if (telnet_ == nullptr) throw std::bad_alloc();
}

TelnetSession::~TelnetSession() { telnet_free(telnet_); }

void TelnetSession::start() {
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_SGA);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_SGA);
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_ECHO);
    telnet_negotiate(telnet_, TELNET_DO, kComPortOption);
}

void TelnetSession::receive(const uint8_t* data, std::size_t length) {
    telnet_recv(telnet_, reinterpret_cast<const char*>(data), length);
}

void TelnetSession::sendComPort(uint8_t command, const uint8_t* value, std::size_t length) {
    std::vector<char> body;
    body.reserve(length + 1);
    body.push_back(static_cast<char>(command));
    body.insert(body.end(), value, value + length);
    telnet_subnegotiation(telnet_, kComPortOption, body.data(), body.size());
}

void TelnetSession::escapeData(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out) {
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == TELNET_IAC) out.push_back(TELNET_IAC);
    }
}

void TelnetSession::onEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<TelnetSession*>(self)->handle(*event);
}

void TelnetSession::handle(const telnet_event_t& event) {
    switch (event.type) {
        case TELNET_EV_DATA:
            handler_.telnetData(reinterpret_cast<const uint8_t*>(event.data.buffer),
                                event.data.size);
            break;
        case TELNET_EV_SEND:
            handler_.telnetSend(reinterpret_cast<const uint8_t*>(event.data.buffer),
                                event.data.size);
            break;
        case TELNET_EV_IAC:
            if (event.iac.cmd == TELNET_BREAK) handler_.telnetBreak();
            break;
        case TELNET_EV_WILL:
        case TELNET_EV_DO:
            if (event.neg.telopt == kComPortOption) handler_.comPortAgreed();
            break;
        case TELNET_EV_SUBNEGOTIATION:
            if (event.sub.telopt == kComPortOption && event.sub.size > 0) {
                const auto* body = reinterpret_cast<const uint8_t*>(event.sub.buffer);
                handler_.comPortCommand(body[0], body + 1, event.sub.size - 1);
            }
            break;
        case TELNET_EV_ERROR:
        case TELNET_EV_WARNING:
            // libtelnet only warns of a subnegotiation beyond its buffer and
            // then reads the rest of it as data: for us that is the end.
            handler_.telnetError(event.error.msg);
            break;
        default:
            break;
    }
}

}  // namespace snctl

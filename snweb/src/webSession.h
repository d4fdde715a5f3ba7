// What the server keeps of one connection: a page, a POST, a page's stream
// or a terminal page's WebSocket.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "terminalFrames.h"
#include "webServer.h"

namespace snweb {

struct WebServer::Session {
    enum class Kind { Http, Post, Overview, Node, Terminal } kind = Kind::Http;
    NodePoller* node = nullptr;
    std::string action;        // of a POST
    std::string body;          // of a POST, bounded
    bool tooLarge = false;     // the body outgrew its bound
    std::string lastSent;      // what the page was last told (without readings)
    double lastSample = 0;     // time of the newest reading sent
    std::size_t received = 0;  // bytes of the page's message so far
    int port = -1;             // a terminal's
    TerminalPage page;         // a terminal's place in its port's stream
    // A terminal page's message, gathered until whole and then kept until
    // the port's queue takes it whole; meanwhile the socket is not read.
    std::vector<uint8_t> typing;
    std::size_t whole = 0;  // of `typing`, the bytes of whole messages
    bool held = false;
    std::string address;  // the client's and the node's, kept for the closing log line
    std::string nodeName;
    // When the page last took some of what was sent to it, and how much of
    // it its TCP had acknowledged then; why snweb closed it, if it did.
    std::chrono::steady_clock::time_point takenAt{};
    uint64_t acknowledged = 0;
    std::string closedFor;
};

}  // namespace snweb

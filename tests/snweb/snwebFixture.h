// The real snweb in front of the real snbusd and two emulated nodes (slaves
// 1 and 2 on one line), reached over bare sockets so the tests can send
// what no browser would.
#pragma once

#include "../snbusd/daemonFixture.h"
#include "capturedProcess.h"
#include "rawHttpClient.h"

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Talking WebSocket over a bare socket, as a browser would and as none would.
bool has(const std::string& text, const std::string& part);
// The handshake of a WebSocket on `path`, with `headers` added.
std::string upgrade(const std::string& path, const std::string& headers);
// Reads what comes on `fd` until `enough` says stop, the peer closes, or
// the deadline passes (a WebSocket of ours streams, so silence never comes).
// True when the peer closed.
bool readUntil(int fd, std::string& got, const std::function<bool(const std::string&)>& enough,
               std::chrono::milliseconds within);
// A WebSocket handshake on a connection of its own: the descriptor and
// the answer's head.
std::pair<int, std::string> openSocket(uint16_t port, const std::string& request);
// A binary message as a browser sends it: masked (with a key of zeros, so
// the payload reads as it is), of any length.
std::string maskedBinary(const std::string& payload);
// The payloads of the whole binary messages in what a WebSocket of ours
// sent (unmasked), one after another: a node's bytes come in as many
// messages as the relay read blocks.  Text messages are skipped.
std::string binaryPayloads(const std::string& frames);

class SnwebTest : public snbusd_test::DaemonTest {
protected:
    explicit SnwebTest(const std::function<void(snsim::Options&)>& adjust = {})
        : DaemonTest(adjust) {}

    static constexpr uint16_t kSerial[2] = {4711, 4712};
    static constexpr uint16_t kAnalog[8] = {11, 222, 3333, 44444, 5, 606, 7070, 65535};

    void SetUp() override;  // the nodes pinned and the daemon started

    // snweb on 127.0.0.1:0 with targets "alpha" (slave 1) and "beta" (slave 2)
    // through the daemon, or on `device` itself when named.
    void startWeb(const std::vector<std::string>& extra = {}, const std::string& device = "");
    // The printed URL: http://127.0.0.1:PORT/?token=TOKEN (without the
    // token when it comes from a file: `token` is then left empty).
    std::string url() const;

    // One request on a connection of its own.  `host` empty: ours.
    std::string rawRequest(const std::string& method, const std::string& target,
                           const std::string& headers = "", const std::string& body = "",
                           const std::string& host = "") const;
    sntest::HttpReply send(const std::string& method, const std::string& target,
                           const std::string& headers = "", const std::string& body = "",
                           const std::string& host = "") const;
    std::string cookie() const { return "Cookie: snweb_token=" + token + "\r\n"; }
    std::string host() const { return "Host: 127.0.0.1:" + std::to_string(webPort) + "\r\n"; }
    std::string ownOrigin() const {
        return "Origin: http://127.0.0.1:" + std::to_string(webPort) + "\r\n";
    }
    // A command as the page sends it, with our cookie and Origin.
    sntest::HttpReply command(const std::string& node, const std::string& action,
                              const std::string& json, const std::string& origin = "") const;

    // Writes of power coils 0-3 the emulator saw for `slave`.
    std::vector<snsim::Transaction> powerWrites(int slave) const;
    bool waitForCoil(int address, bool on, int slave, std::chrono::milliseconds timeout) const;

    sntest::CapturedProcess web;
    uint16_t webPort = 0;
    std::string token;
};

// The real snweb in front of the real snbusd and two emulated nodes (slaves
// 1 and 2 on one line), reached over bare sockets so the tests can send
// what no browser would.
#pragma once

#include "../snbusd/daemonFixture.h"
#include "capturedProcess.h"
#include "rawHttpClient.h"

#include <string>
#include <vector>

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
    // The printed URL: http://127.0.0.1:PORT/?token=TOKEN
    std::string url() const;

    // One request on a connection of its own.  `host` empty: ours.
    std::string rawRequest(const std::string& method, const std::string& target,
                           const std::string& headers = "", const std::string& body = "",
                           const std::string& host = "") const;
    sntest::HttpReply send(const std::string& method, const std::string& target,
                           const std::string& headers = "", const std::string& body = "",
                           const std::string& host = "") const;
    std::string cookie() const { return "Cookie: snweb_token=" + token + "\r\n"; }
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

#include "snwebFixture.h"

#include <poll.h>
#include <sys/socket.h>

#include <regex>
#include <thread>

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string upgrade(const std::string& path, const std::string& headers) {
    return "GET " + path +
           " HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Protocol: snweb\r\n" +
           headers + "\r\n";
}

bool readUntil(int fd, std::string& got, const std::function<bool(const std::string&)>& enough,
               std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    char buffer[4096];
    while (!enough(got) && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0) return true;
        got.append(buffer, static_cast<std::size_t>(count));
    }
    return false;
}

std::pair<int, std::string> openSocket(uint16_t port, const std::string& request) {
    const int fd = sntest::connectTo("127.0.0.1", port);
    std::string got;
    if (fd >= 0) {
        sntest::sendAll(fd, request);
        readUntil(
            fd, got, [](const std::string& g) { return has(g, "\r\n\r\n"); },
            std::chrono::seconds(3));
    }
    return {fd, got};
}

std::string maskedBinary(const std::string& payload) {
    std::string frame = {'\x82'};
    const std::size_t n = payload.size();
    if (n < 126) {
        frame += static_cast<char>(0x80 | n);
    } else if (n <= 0xFFFF) {
        frame += {'\xFE', static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)};
    } else {
        frame += '\xFF';
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += static_cast<char>((n >> shift) & 0xFF);
    }
    return frame + std::string(4, '\0') + payload;
}

std::string binaryPayloads(const std::string& frames) {
    std::string payloads;
    std::size_t at = 0;
    while (at + 2 <= frames.size()) {
        const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(frames[at + i]); };
        std::size_t length = byte(1) & 0x7F;
        std::size_t head = 2;
        if (length >= 126) {
            head = length == 126 ? 4 : 10;
            if (at + head > frames.size()) break;
            length = 0;
            for (std::size_t i = 2; i < head; ++i) length = length << 8 | byte(i);
        }
        if (at + head + length > frames.size()) break;  // not whole yet
        if ((byte(0) & 0x0F) == 0x2) payloads.append(frames, at + head, length);
        at += head + length;
    }
    return payloads;
}

void SnwebTest::SetUp() {
    DaemonTest::SetUp();
    for (int slave = 1; slave <= 2; ++slave) {
        sim.setReg(15, kSerial[slave - 1], slave);
        for (int c = 0; c < 8; ++c) sim.setReg(31 + c, kAnalog[c], slave);
    }
    startDaemon();
}

void SnwebTest::startWeb(const std::vector<std::string>& extra, const std::string& device) {
    const std::string node = device.empty() ? tcpName() : device;
    std::vector<std::string> argv{SNWEB_PATH,
                                  "--listen",
                                  "127.0.0.1:0",
                                  "--rate",
                                  "5",
                                  "--target",
                                  "alpha=" + node + ",slave=1",
                                  "--target",
                                  "beta=" + node + ",slave=2"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ASSERT_TRUE(web.start(argv));
    const std::regex ready(
        "open http://127\\.0\\.0\\.1:([0-9]+)/(\\?token=([0-9a-zA-Z_-]+))?[\n ]");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::smatch found;
    std::string out;
    while (!std::regex_search(out = web.outputSoFar(), found, ready)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << web.errorsSoFar();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    webPort = static_cast<uint16_t>(std::stoi(found[1]));
    token = found[3];
}

std::string SnwebTest::url() const {
    return "http://127.0.0.1:" + std::to_string(webPort) + "/?token=" + token;
}

std::string SnwebTest::rawRequest(const std::string& method, const std::string& target,
                                  const std::string& headers, const std::string& body,
                                  const std::string& host) const {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: " +
                          (host.empty() ? "127.0.0.1:" + std::to_string(webPort) : host) +
                          "\r\nConnection: close\r\n" + headers;
    if (method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return sntest::exchange("127.0.0.1", webPort, request + "\r\n" + body);
}

sntest::HttpReply SnwebTest::send(const std::string& method, const std::string& target,
                                  const std::string& headers, const std::string& body,
                                  const std::string& host) const {
    return sntest::parseReply(rawRequest(method, target, headers, body, host));
}

sntest::HttpReply SnwebTest::command(const std::string& node, const std::string& action,
                                     const std::string& json, const std::string& origin) const {
    return send(
        "POST", "/api/node/" + node + "/" + action,
        cookie() + (origin.empty() ? ownOrigin() : origin) + "Content-Type: application/json\r\n",
        json);
}

std::vector<snsim::Transaction> SnwebTest::powerWrites(int slave) const {
    std::vector<snsim::Transaction> found;
    for (const snsim::Transaction& t : sim.log()) {
        const bool coilWrite = t.function == 5 || t.function == 15;
        if (t.slave == slave && coilWrite && t.address <= 3) found.push_back(t);
    }
    return found;
}

bool SnwebTest::waitForCoil(int address, bool on, int slave,
                            std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (sim.coil(address, slave) != on) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

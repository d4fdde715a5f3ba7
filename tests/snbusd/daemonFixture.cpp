#include "daemonFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sncommon/fdTransfer.h"

namespace snbusd_test {

namespace {

std::string makeTempDir() {
    char pattern[] = "/tmp/snbusd-test-XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "";
}

snsim::Options nodeOptions(const std::string& link,
                           const std::function<void(snsim::Options&)>& adjust) {
    snsim::Options options;
    options.slaves = {1, 2};
    for (auto& p : options.ports) p.kind = snsim::Attachment::Kind::None;
    options.linkPath = link;
    if (adjust) adjust(options);
    return options;
}

}  // namespace

Bytes frame(uint16_t transaction, uint8_t unit, const Bytes& pdu) {
    const auto length = static_cast<uint16_t>(pdu.size() + 1);
    Bytes out(7 + pdu.size());
    out[0] = static_cast<uint8_t>(transaction >> 8);
    out[1] = static_cast<uint8_t>(transaction & 0xFF);
    out[4] = static_cast<uint8_t>(length >> 8);
    out[5] = static_cast<uint8_t>(length & 0xFF);
    out[6] = unit;
    std::copy(pdu.begin(), pdu.end(), out.begin() + 7);
    return out;
}

Bytes words(uint8_t function, std::initializer_list<uint16_t> values) {
    Bytes out{function, static_cast<uint8_t>(2 * values.size())};
    for (const uint16_t v : values) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v & 0xFF));
    }
    return out;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word)
        if (word == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    return -1;
}

RawClient::RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

RawClient::~RawClient() {
    if (fd_ >= 0) close(fd_);
}

bool RawClient::send(const Bytes& bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
}

std::optional<Bytes> RawClient::receive(std::chrono::milliseconds timeout) {
    Bytes header(7);
    if (fd_ < 0 || sncommon::readAll(fd_, header.data(), 7, timeout) != 7) return std::nullopt;
    const std::size_t rest = static_cast<std::size_t>((header[4] << 8) | header[5]) - 1;
    Bytes pdu(rest);
    if (sncommon::readAll(fd_, pdu.data(), rest, timeout) != rest) return std::nullopt;
    header.insert(header.end(), pdu.begin(), pdu.end());
    return header;
}

bool RawClient::closedByDaemon(std::chrono::milliseconds timeout) {
    pollfd in{fd_, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char byte;
    return recv(fd_, &byte, 1, 0) == 0;
}

std::optional<Bytes> RawClient::ask(uint8_t unit, const Bytes& pdu, uint16_t transaction) {
    if (!send(frame(transaction, unit, pdu))) return std::nullopt;
    const auto answer = receive();
    if (!answer || answer->size() < 8) return std::nullopt;
    EXPECT_EQ((*answer)[0], transaction >> 8);
    EXPECT_EQ((*answer)[1], transaction & 0xFF);
    EXPECT_EQ((*answer)[6], unit);
    return Bytes(answer->begin() + 7, answer->end());
}

DaemonTest::DaemonTest(const std::function<void(snsim::Options&)>& adjust)
    : dir(makeTempDir()), link(dir + "/node"), sim(nodeOptions(link, adjust)) {}

DaemonTest::~DaemonTest() {
    daemon.signal(SIGKILL);
    std::filesystem::remove_all(dir);
}

void DaemonTest::SetUp() {
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(sim.start());
}

void DaemonTest::startDaemon(const std::vector<std::string>& extra) {
    std::vector<std::string> options{"--timeout", "300"};
    options.insert(options.end(), extra.begin(), extra.end());
    ASSERT_TRUE(daemon.start(SNBUSD_PATH, link, options)) << daemonLog();
    port = daemon.port();
    sim.clearLog();
}

std::string DaemonTest::metricsPage() const {
    return sntest::runProgram(
               {"/usr/bin/curl", "-s",
                "http://127.0.0.1:" + std::to_string(daemon.metricsPort()) + "/metrics"})
        .out;
}

std::vector<snsim::Transaction> DaemonTest::lineTraffic() const {
    std::vector<snsim::Transaction> traffic;
    for (const auto& t : sim.log())
        if (!(t.function == 6 && t.address == 21)) traffic.push_back(t);
    return traffic;
}

}  // namespace snbusd_test

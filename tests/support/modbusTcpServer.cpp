#include "modbusTcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace sntest {

namespace {

// Room for every address the node's map uses: three port blocks of 256.
constexpr int kCoils = 16;
constexpr int kRegisters = 1024;

int wordAt(const uint8_t* bytes, int length, int at) {
    return at + 1 < length ? (bytes[at] << 8) | bytes[at + 1] : -1;
}

std::vector<uint16_t> wordsFrom(const uint8_t* bytes, int length, int at, int count) {
    std::vector<uint16_t> words;
    for (int i = 0; i < count && at + 2 * i + 1 < length; ++i) {
        words.push_back(static_cast<uint16_t>(wordAt(bytes, length, at + 2 * i)));
    }
    return words;
}

}  // namespace

ModbusTcpServer::ModbusTcpServer(std::string host)
    : host_(std::move(host)), map_(modbus_mapping_new(kCoils, 0, kRegisters, 0)) {}

ModbusTcpServer::~ModbusTcpServer() {
    stop();
    modbus_mapping_free(map_);
}

// libmodbus cannot listen on port 0 and tell which port it got, so the
// kernel picks one for a socket that is closed again at once.
bool ModbusTcpServer::pickFreePort() {
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host_.c_str(), "0", &hints, &found) != 0) return false;
    const int s = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    const bool ok = s >= 0 && bind(s, found->ai_addr, found->ai_addrlen) == 0 &&
                    getsockname(s, reinterpret_cast<sockaddr*>(&bound), &size) == 0;
    freeaddrinfo(found);
    if (s >= 0) close(s);
    if (!ok) return false;
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return port_ != 0;
}

bool ModbusTcpServer::start() {
    if (thread_.joinable() || map_ == nullptr) return false;
    if (port_ == 0 && !pickFreePort()) return false;
    ctx_ = modbus_new_tcp_pi(host_.c_str(), std::to_string(port_).c_str());
    const int listener = ctx_ == nullptr ? -1 : modbus_tcp_pi_listen(ctx_, 8);
    if (listener < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        if (listener >= 0) close(listener);
        if (ctx_ != nullptr) modbus_free(ctx_);
        ctx_ = nullptr;
        return false;
    }
    thread_ = std::thread(&ModbusTcpServer::serve, this, listener);
    return true;
}

void ModbusTcpServer::stop() {
    if (!thread_.joinable()) return;
    const char wake = 1;
    (void)!write(wake_[1], &wake, 1);
    thread_.join();
    close(wake_[0]);
    close(wake_[1]);
    modbus_set_socket(ctx_, -1);  // the thread closed every socket itself
    modbus_free(ctx_);
    ctx_ = nullptr;
}

// Waits on the wake pipe, the listener and every connection at once.
void ModbusTcpServer::serve(int listener) {
    std::vector<int> clients;
    for (;;) {
        std::vector<pollfd> watched{{wake_[0], POLLIN, 0}, {listener, POLLIN, 0}};
        for (const int c : clients) watched.push_back({c, POLLIN, 0});
        if (poll(watched.data(), watched.size(), -1) < 0) continue;
        if (watched[0].revents != 0) break;
        if (watched[1].revents & POLLIN) {
            const int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                clients.push_back(c);
                ++accepted_;
            }
        }
        for (std::size_t i = 2; i < watched.size(); ++i) {
            if (watched[i].revents != 0) answer(watched[i].fd, clients);
        }
    }
    for (const int c : clients) close(c);
    close(listener);
}

// One request of one connection; a connection that failed or ended is closed.
void ModbusTcpServer::answer(int client, std::vector<int>& clients) {
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_set_socket(ctx_, client);
    int length = modbus_receive(ctx_, query);
    if (length > 0 && query[modbus_get_header_length(ctx_)] == kSetClientTimeout) {
        length = answerClientTimeout(client, query, length);
    } else if (length > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        record(query, length);
        modbus_reply(ctx_, query, length, map_);
    }
    if (length < 0) {
        close(client);
        clients.erase(std::find(clients.begin(), clients.end(), client));
    }
}

// The daemon's own function, a client's wait on the line: libmodbus reads
// only its function byte, so the word behind it is taken here by the
// frame's length, and it is taken as the daemon takes it.
int ModbusTcpServer::answerClientTimeout(int client, uint8_t* query, int length) {
    const int h = modbus_get_header_length(ctx_);
    const int framed = h - 1 + ((query[4] << 8) | query[5]);
    while (length < framed && length < MODBUS_TCP_MAX_ADU_LENGTH) {
        const ssize_t got = ::recv(client, query + length, static_cast<size_t>(framed - length), 0);
        if (got <= 0) return -1;
        length += static_cast<int>(got);
    }
    uint8_t reply[MODBUS_TCP_MAX_ADU_LENGTH];
    std::copy(query, query + h + 1, reply);
    reply[4] = 0;
    reply[5] = 3;  // unit, function, taken
    reply[h + 1] = 1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record(query, length);
    }
    return ::send(client, reply, static_cast<size_t>(h + 2), MSG_NOSIGNAL) < 0 ? -1 : length;
}

void ModbusTcpServer::record(const uint8_t* query, int length) {
    const int h = modbus_get_header_length(ctx_);
    TcpRequest r;
    r.unit = query[h - 1];
    r.function = query[h];
    r.address = wordAt(query, length, h + 1);
    r.quantity = wordAt(query, length, h + 3);
    if (r.function == 5 || r.function == 6) {
        r.quantity = 1;
        if (r.function == 6) r.values = wordsFrom(query, length, h + 3, 1);
    } else if (r.function == 16) {
        r.values = wordsFrom(query, length, h + 6, r.quantity);
    } else if (r.function == 23) {
        r.readAddress = r.address;
        r.readQuantity = r.quantity;
        r.address = wordAt(query, length, h + 5);
        r.quantity = wordAt(query, length, h + 7);
        r.values = wordsFrom(query, length, h + 10, r.quantity);
    }
    requests_.push_back(std::move(r));
}

std::string ModbusTcpServer::deviceName() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return "tcp:" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

std::vector<TcpRequest> ModbusTcpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ModbusTcpServer::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

bool ModbusTcpServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (requests().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void ModbusTcpServer::setRegister(int address, uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (map_ != nullptr && address >= 0 && address < kRegisters) {
        map_->tab_registers[address] = value;
    }
}

uint16_t ModbusTcpServer::reg(int address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_ != nullptr && address >= 0 && address < kRegisters ? map_->tab_registers[address]
                                                                   : 0;
}

bool ModbusTcpServer::coil(int address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_ != nullptr && address >= 0 && address < kCoils && map_->tab_bits[address] != 0;
}

}  // namespace sntest

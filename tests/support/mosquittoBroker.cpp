#include "mosquittoBroker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "freePort.h"

namespace sntest {

namespace {

constexpr const char* kMosquitto = "/usr/sbin/mosquitto";

bool acceptsTcp(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

bool succeeds(const std::vector<std::string>& argv) { return runProgram(argv).status == 0; }

// A CA of the test's own and a server certificate it signs, valid for the
// loopback address and name, as a client checking host names wants.
bool makeCertificates(const std::string& dir) {
    const std::vector<std::string> ecKey{"-newkey", "ec", "-pkeyopt",
                                         "ec_paramgen_curve:prime256v1", "-nodes"};
    std::vector<std::string> ca{"openssl", "req", "-x509"};
    ca.insert(ca.end(), ecKey.begin(), ecKey.end());
    ca.insert(ca.end(), {"-keyout", dir + "/ca.key", "-out", dir + "/ca.crt", "-days", "2", "-subj",
                         "/CN=sntest CA"});
    std::vector<std::string> request{"openssl", "req", "-new"};
    request.insert(request.end(), ecKey.begin(), ecKey.end());
    request.insert(request.end(), {"-keyout", dir + "/server.key", "-out", dir + "/server.csr",
                                   "-subj", "/CN=127.0.0.1"});
    std::ofstream(dir + "/server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    const std::vector<std::string> sign{"openssl",
                                        "x509",
                                        "-req",
                                        "-in",
                                        dir + "/server.csr",
                                        "-CA",
                                        dir + "/ca.crt",
                                        "-CAkey",
                                        dir + "/ca.key",
                                        "-CAcreateserial",
                                        "-out",
                                        dir + "/server.crt",
                                        "-days",
                                        "2",
                                        "-extfile",
                                        dir + "/server.ext"};
    return succeeds(ca) && succeeds(request) && succeeds(sign);
}

// Run as root, mosquitto drops to its own user, which cannot read the
// test's private directory: it stays whoever runs the test.
std::string currentUser() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : "mosquitto";
}

}  // namespace

MosquittoBroker::~MosquittoBroker() {
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool MosquittoBroker::prepare() {
    char pattern[] = "/tmp/sntest-mosquitto-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    dir_ = pattern;
    if (!options_.users.empty()) {
        std::ofstream(dir_ + "/passwd").close();
        for (const auto& [user, password] : options_.users)
            if (!succeeds({"mosquitto_passwd", "-b", dir_ + "/passwd", user, password}))
                return false;
    }
    return !options_.tls || makeCertificates(dir_);
}

bool MosquittoBroker::writeConfig() const {
    std::ofstream config(dir_ + "/mosquitto.conf");
    config << "user " << currentUser() << "\n"
           << "log_dest stderr\nlog_type all\nconnection_messages true\n"
           << "persistence " << (options_.persistence ? "true" : "false") << "\n";
    if (options_.persistence) config << "persistence_location " << dir_ << "/\n";
    if (options_.users.empty()) {
        config << "allow_anonymous true\n";
    } else {
        config << "allow_anonymous false\npassword_file " << dir_ << "/passwd\n";
    }
    config << "listener " << port_ << " 127.0.0.1\n";
    if (options_.tls)
        config << "listener " << tlsPort_ << " 127.0.0.1\n"
               << "cafile " << dir_ << "/ca.crt\ncertfile " << dir_ << "/server.crt\n"
               << "keyfile " << dir_ << "/server.key\n";
    return static_cast<bool>(config.flush());
}

bool MosquittoBroker::launch(std::chrono::milliseconds timeout) {
    process_ = std::make_unique<CapturedProcess>();
    if (!writeConfig() || !process_->start({kMosquitto, "-c", dir_ + "/mosquitto.conf"}))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (process_->running()) {
        if (acceptsTcp(port_) && (!options_.tls || acceptsTcp(tlsPort_))) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;  // ended: a port taken meanwhile, or a bad configuration
}

bool MosquittoBroker::start(const MosquittoOptions& options, std::chrono::milliseconds timeout) {
    options_ = options;
    if (!prepare()) return false;
    // A free port can be taken by a suite running beside this one before
    // mosquitto binds it: then others are tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLoopbackPort();
        tlsPort_ = options_.tls ? freeLoopbackPort() : 0;
        if (launch(timeout)) return true;
        stop();
    }
    return false;
}

void MosquittoBroker::stop() {
    if (!process_) return;
    process_->signal(SIGTERM);
    process_->wait(std::chrono::seconds(5));
    earlierLogs_ += process_->errorsSoFar();
    process_.reset();
}

bool MosquittoBroker::restart(std::chrono::milliseconds timeout) {
    stop();
    return launch(timeout);
}

std::string MosquittoBroker::log() const {
    return earlierLogs_ + (process_ ? process_->errorsSoFar() : "");
}

RunResult MosquittoBroker::client(const std::string& program, const std::vector<std::string>& args,
                                  std::chrono::milliseconds timeout) const {
    std::vector<std::string> argv{"/usr/bin/" + program, "-h", "127.0.0.1", "-p",
                                  std::to_string(port_)};
    if (!options_.users.empty())
        argv.insert(argv.end(), {"-u", options_.users[0].first, "-P", options_.users[0].second});
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, timeout);
}

std::optional<std::string> MosquittoBroker::retained(const std::string& topic,
                                                     std::chrono::seconds wait) const {
    const RunResult result =
        client("mosquitto_sub",
               {"-t", topic, "-C", "1", "--retained-only", "-W", std::to_string(wait.count())},
               wait + std::chrono::seconds(5));
    if (result.status != 0) return {};
    std::string payload = result.out;
    if (!payload.empty() && payload.back() == '\n') payload.pop_back();
    return payload;
}

}  // namespace sntest

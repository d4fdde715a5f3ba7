#include "birthDeathSequence.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace snmqtt {

namespace {

// The edge node's ids as a file name: anything but letters, digits, '.',
// '_' and '-' written as %XX, so every GROUP/EDGE has a file of its own.
std::string fileNameOf(const EdgeNodeId& id) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name = "sparkplug-bdseq-";
    for (const char c : id.group + "/" + id.edge) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-') {
            name += c;
        } else {
            name += '%';
            name += kHex[byte >> 4];
            name += kHex[byte & 0x0F];
        }
    }
    return name;
}

// The number kept, or -1 when there is none or it is not one.
int keptNumber(const std::string& path) {
    std::ifstream in(path);
    int value = -1;
    if (!(in >> value) || value < 0 || value > 255) return -1;
    return value;
}

}  // namespace

std::string defaultStateDirectory() {
    const char* given = std::getenv("STATE_DIRECTORY");
    if (given == nullptr || given[0] == '\0') return "/var/lib/snmqtt";
    const std::string all = given;
    return all.substr(0, all.find(':'));
}

BirthDeathSequence::BirthDeathSequence(const std::string& stateDir, const EdgeNodeId& id,
                                       std::function<void(const std::string&)> log)
    : path_(stateDir + "/" + fileNameOf(id)), log_(std::move(log)) {
    if (mkdir(stateDir.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make the state directory " + stateDir + ": " +
                                 std::strerror(errno) + " (see --state-dir)");
    const int kept = keptNumber(path_);
    current_ = static_cast<uint8_t>(kept < 0 ? 0 : (kept + 1) % 256);
    std::string why;
    if (!keep(current_, why))
        throw std::runtime_error("cannot keep Sparkplug's bdSeq in " + path_ + ": " + why +
                                 " (see --state-dir)");
}

uint8_t BirthDeathSequence::next() {
    if (reserved_) {
        reserved_ = false;
        return current_;
    }
    current_ = static_cast<uint8_t>((current_ + 1) % 256);
    if (std::string why; !keep(current_, why))
        log_("cannot keep bdSeq " + std::to_string(current_) + " in " + path_ + ": " + why +
             "; a restart may use it again");
    return current_;
}

// Written beside and renamed over the old file, so a crash leaves one
// number or the other, never half of one.
bool BirthDeathSequence::keep(uint8_t value, std::string& why) const {
    const std::string temporary = path_ + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    const std::string text = std::to_string(value) + "\n";
    const bool written =
        write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path_.c_str()) != 0) {
        why = std::strerror(written ? errno : error);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace snmqtt

#include "serialClient.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "sncommon/fdTransfer.h"

namespace sntest {

SerialClient::~SerialClient() { close(); }

bool SerialClient::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios raw{};
    if (tcgetattr(fd_, &raw) != 0) return false;
    cfmakeraw(&raw);
    return tcsetattr(fd_, TCSANOW, &raw) == 0;
}

void SerialClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool SerialClient::writeAll(const std::vector<uint8_t>& data, std::chrono::milliseconds timeout) {
    return fd_ >= 0 && sncommon::writeAll(fd_, data.data(), data.size(), timeout);
}

std::vector<uint8_t> SerialClient::readExactly(std::size_t count,
                                               std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got(count);
    const std::size_t n = fd_ < 0 ? 0 : sncommon::readAll(fd_, got.data(), count, timeout);
    got.resize(n);
    return got;
}

}  // namespace sntest

#include "serialClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

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

namespace {

// Small enough that a terminal's buffer takes it soon after the far side reads.
constexpr std::size_t kWriteSlice = 4096;

}  // namespace

bool SerialClient::writeAll(const std::vector<uint8_t>& data, std::chrono::milliseconds stall) {
    if (fd_ < 0) return false;
    for (std::size_t done = 0; done < data.size(); done += kWriteSlice) {
        const std::size_t slice = std::min(kWriteSlice, data.size() - done);
        if (!sncommon::writeAll(fd_, data.data() + done, slice, stall)) return false;
    }
    return true;
}

std::vector<uint8_t> SerialClient::readExactly(std::size_t count, std::chrono::milliseconds stall) {
    std::vector<uint8_t> got(count);
    std::size_t have = 0;
    while (fd_ >= 0 && have < count) {
        const std::size_t n = sncommon::readAll(fd_, got.data() + have, count - have, stall);
        if (n == 0) break;
        have += n;
    }
    got.resize(have);
    return got;
}

std::vector<uint8_t> SerialClient::readUntil(
    const std::function<bool(const std::vector<uint8_t>&)>& complete,
    std::chrono::milliseconds stall) {
    std::vector<uint8_t> got;
    uint8_t buffer[4096];
    while (fd_ >= 0 && !complete(got)) {
        pollfd in{fd_, POLLIN, 0};
        if (poll(&in, 1, static_cast<int>(stall.count())) <= 0) break;
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

}  // namespace sntest

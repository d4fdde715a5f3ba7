#include "serialClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace snctl_test {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

SerialClient::~SerialClient() { close(); }

bool SerialClient::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
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
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd out{fd_, POLLOUT, 0};
        if (Clock::now() >= deadline) return false;
        poll(&out, 1, std::min(millisecondsLeft(deadline), 100));
    }
    return true;
}

std::vector<uint8_t> SerialClient::readExactly(std::size_t count,
                                               std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<uint8_t> got;
    uint8_t buffer[4096];
    while (got.size() < count && Clock::now() < deadline) {
        pollfd in{fd_, POLLIN, 0};
        if (poll(&in, 1, std::min(millisecondsLeft(deadline), 100)) <= 0) continue;
        const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return got;
}

}  // namespace snctl_test

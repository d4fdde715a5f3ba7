#include "snterm/consoleOutput.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>

namespace snterm {

namespace {

void waitUntilWritable(int fd) {
    pollfd watched{fd, POLLOUT, 0};
    poll(&watched, 1, 100);
}

}  // namespace

bool writeAll(int fd, const void* data, std::size_t length) {
    const auto* next = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t written = write(fd, next, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitUntilWritable(fd);  // non-blocking console: no busy spin
                continue;
            }
            return false;
        }
        next += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace snterm

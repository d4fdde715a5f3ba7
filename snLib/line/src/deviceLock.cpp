#include "snline/deviceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace snline {

int lockDevice(const char* device) {
    // Non-blocking, so a port whose modem lines are down still opens; the
    // descriptor only holds the lock and never reads or writes.
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return fd;
    const int failure = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    errno = failure;
    return -1;
}

bool isSameDevice(int fd, const char* device) {
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) < 0 || ::stat(device, &named) < 0) return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace snline

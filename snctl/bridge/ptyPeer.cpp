#include "ptyPeer.h"

#include "failure.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace snctl {

std::size_t PtyPeer::takeInput(uint8_t* buffer, std::size_t room, std::optional<NodeAction>&) {
    const ssize_t got = read(master_, buffer, room);
    if (got > 0) return static_cast<std::size_t>(got);
    // EIO would only mean no slave is open, which the kept slave rules out.
    if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
        throw DeviceError("cannot read the pseudo-terminal", errno);
    return 0;
}

std::size_t PtyPeer::giveOutput(const uint8_t* data, std::size_t length) {
    const ssize_t n = write(master_, data, length);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        throw DeviceError("cannot write the pseudo-terminal", errno);
    return 0;
}

}  // namespace snctl

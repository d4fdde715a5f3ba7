// The sockets clients connect to, one per address a program listens on.
#pragma once

#include <string>
#include <vector>

namespace sncommon {

// Binds and listens on each HOST:PORT (non-blocking, close-on-exec); the
// descriptors.  Throws std::runtime_error naming the address that failed.
std::vector<int> openListeners(const std::vector<std::string>& addresses);

// "HOST:PORT" of the other end of a connected socket, for the log.
std::string peerName(int fd);
// The address a socket is bound to (with the port port 0 was given).
std::string localName(int fd);

}  // namespace sncommon

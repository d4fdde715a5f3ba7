// Pseudo-terminal pairs and symlinks.
#pragma once

#include <string>

namespace snsim::detail {

struct PtyPair {
    int master = -1;   // non-blocking, close-on-exec
    int slave = -1;    // kept open so the master never reads EIO
    std::string path;  // "/dev/pts/N"
};

// Opens a pty pair with the slave side in raw mode (no echo, no output
// processing).  False with a message in err.
bool openPty(PtyPair& pty, std::string& err);
void closePty(PtyPair& pty);

// Makes link point at target, replacing an existing symlink (but never any
// other kind of file).
bool makeLink(const std::string& link, const std::string& target, std::string& err);
// Removes link if it is a symlink pointing at target.
void removeLink(const std::string& link, const std::string& target);

void setNonBlockCloexec(int fd);

}  // namespace snsim::detail

#include "sncommon/pseudoTerminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace sncommon {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::string linkTarget(const std::string& path) {
    std::vector<char> target(4096);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size() - 1);
    return length < 0 ? std::string()
                      : std::string(target.data(), static_cast<std::size_t>(length));
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw std::system_error(EEXIST, std::generic_category(),
                            "cannot make the link " + path + ": " + why);
}

// Makes the path free for a link of ours, before anything else is done: a
// stale link (its target gone, left by a killed run) is removed; anything
// else at the path is someone's and is refused.
void claimLinkPath(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return;  // free
    if (S_ISDIR(info.st_mode)) refuse(path, "it is a directory");
    if (!S_ISLNK(info.st_mode)) refuse(path, "a file is in the way");
    if (stat(path.c_str(), &info) == 0) {
        refuse(path, "it is a link to " + linkTarget(path) + ", which is in use");
    }
    unlink(path.c_str());
}

}  // namespace

PseudoTerminal::PseudoTerminal(const PseudoTerminalOptions& options) : linkPath_(options.linkPath) {
    try {
        if (!linkPath_.empty()) claimLinkPath(linkPath_);
        openPair(options);
        if (!linkPath_.empty()) makeLink();
    } catch (...) {
        closeAll();
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    if (linked_ && linkTarget(linkPath_) == slavePath_) unlink(linkPath_.c_str());
    closeAll();
}

void PseudoTerminal::releaseSlave() {
    if (slave_ >= 0) close(slave_);
    slave_ = -1;
}

void PseudoTerminal::closeAll() {
    releaseSlave();
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void PseudoTerminal::openPair(const PseudoTerminalOptions& options) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) fail("cannot create a pseudo-terminal");
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        fail("cannot unlock the pseudo-terminal");
    }
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) fail("cannot open " + slavePath_);
    const winsize size{options.rows, options.columns, 0, 0};
    ioctl(slave_, TIOCSWINSZ, &size);
    if (!options.raw) return;
    termios raw{};
    if (tcgetattr(slave_, &raw) != 0) fail("cannot read the settings of " + slavePath_);
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(slave_, TCSANOW, &raw) != 0) fail("cannot set raw mode on " + slavePath_);
}

// Fails when another program made the path in the meantime: never taken over.
void PseudoTerminal::makeLink() {
    if (symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) {
        fail("cannot make the link " + linkPath_ + " to " + slavePath_);
    }
    linked_ = true;
}

}  // namespace sncommon

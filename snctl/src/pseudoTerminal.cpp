#include "pseudoTerminal.h"

#include "failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace snctl {

namespace {

std::string linkTarget(const std::string& path) {
    std::vector<char> target(4096);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size() - 1);
    return length < 0 ? std::string()
                      : std::string(target.data(), static_cast<std::size_t>(length));
}

bool isDanglingLink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
           stat(path.c_str(), &info) != 0;
}

}  // namespace

PseudoTerminal::PseudoTerminal(const std::string& linkPath) : linkPath_(linkPath) {
    try {
        openPair();
        makeLink();
    } catch (...) {
        if (keptSlave_ >= 0) close(keptSlave_);
        if (master_ >= 0) close(master_);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    if (linked_ && linkTarget(linkPath_) == slavePath_) unlink(linkPath_.c_str());
    close(keptSlave_);
    close(master_);
}

void PseudoTerminal::openPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) throw DeviceError("cannot create a pseudo-terminal", errno);
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        throw DeviceError("cannot unlock the pseudo-terminal", errno);
    }
    slavePath_ = name;
    keptSlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keptSlave_ < 0) throw DeviceError("cannot open " + slavePath_, errno);
    // Raw until a client sets its own line: bytes pass unchanged.
    termios raw{};
    if (tcgetattr(keptSlave_, &raw) != 0)
        throw DeviceError("cannot read the terminal settings", errno);
    cfmakeraw(&raw);
    if (tcsetattr(keptSlave_, TCSANOW, &raw) != 0) throw DeviceError("cannot set raw mode", errno);
}

void PseudoTerminal::makeLink() {
    if (isDanglingLink(linkPath_)) unlink(linkPath_.c_str());
    if (symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) {
        throw DeviceError("cannot create link " + linkPath_ + " to " + slavePath_, errno);
    }
    linked_ = true;
}

}  // namespace snctl

#include "ptyPair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace snsim::detail {

void setNonBlockCloexec(int fd) {
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    const int fd_fl = fcntl(fd, F_GETFD);
    if (fd_fl >= 0) fcntl(fd, F_SETFD, fd_fl | FD_CLOEXEC);
}

bool openPty(PtyPair& pty, std::string& err) {
    pty = PtyPair{};
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) {
        err = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        err = std::string("grantpt/unlockpt/ptsname: ") + std::strerror(errno);
        close(m);
        return false;
    }
    const int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        err = std::string("open ") + name + ": " + std::strerror(errno);
        close(m);
        return false;
    }
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        tcsetattr(s, TCSANOW, &tio);
    }
    setNonBlockCloexec(m);
    pty.master = m;
    pty.slave = s;
    pty.path = name;
    return true;
}

void closePty(PtyPair& pty) {
    if (pty.master >= 0) close(pty.master);
    if (pty.slave >= 0) close(pty.slave);
    pty.master = pty.slave = -1;
}

bool makeLink(const std::string& link, const std::string& target, std::string& err) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            err = link + " exists and is not a symlink";
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        err = "symlink " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target) {
    if (link.empty()) return;
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return;
    buf[n] = 0;
    if (target == buf) unlink(link.c_str());
}

}  // namespace snsim::detail

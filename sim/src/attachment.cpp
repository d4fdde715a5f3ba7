#include "attachment.h"

#include "ptyPair.h"

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace snsim::detail {

namespace {
constexpr std::size_t kOutLimit = 64 * 1024;
}

bool AttachmentIo::open(const Attachment& a, std::string& err) {
    close();
    dead_ = false;
    if (a.kind == Attachment::Kind::Pty) {
        PtyPair p;
        if (!openPty(p, err)) return false;
        master_ = p.master;
        keptSlave_ = p.slave;
        path_ = p.path;
    } else if (a.kind == Attachment::Kind::Exec) {
        winsize ws{};
        ws.ws_row = 24;
        ws.ws_col = 80;
        int m = -1;
        const pid_t pid = forkpty(&m, nullptr, nullptr, &ws);
        if (pid < 0) {
            err = std::string("forkpty: ") + std::strerror(errno);
            return false;
        }
        if (pid == 0) {
            // Child: only async-signal-safe calls until exec.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            signal(SIGPIPE, SIG_DFL);
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            execl("/bin/sh", "sh", "-c", a.command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        child_ = pid;
        master_ = m;
        setNonBlockCloexec(m);
        char name[128];
        path_ = ptsname_r(m, name, sizeof name) == 0 ? name : "";
    } else {
        err = "not a pty attachment";
        return false;
    }
    if (!a.linkPath.empty()) {
        if (!makeLink(a.linkPath, path_, err)) {
            close();
            return false;
        }
        link_ = a.linkPath;
    }
    return true;
}

void AttachmentIo::close() {
    if (!link_.empty()) removeLink(link_, path_);
    link_.clear();
    if (master_ >= 0) ::close(master_);
    if (keptSlave_ >= 0) ::close(keptSlave_);
    master_ = keptSlave_ = -1;
    if (child_ > 0) {
        kill(child_, SIGHUP);
        int status = 0;
        bool gone = false;
        for (int i = 0; i < 50 && !gone; ++i) {
            if (waitpid(child_, &status, WNOHANG) == child_)
                gone = true;
            else
                usleep(10000);
        }
        if (!gone) {
            kill(child_, SIGKILL);
            waitpid(child_, &status, 0);
        }
        child_ = -1;
    }
    out_.clear();
    dead_ = true;
}

void AttachmentIo::queueOut(const std::vector<uint8_t>& bytes) {
    if (dead_) return;
    const std::size_t room = kOutLimit - std::min(kOutLimit, out_.size());
    out_.insert(out_.end(), bytes.begin(),
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
}

void AttachmentIo::flushOut() {
    if (dead_ || out_.empty()) return;
    const ssize_t n = ::write(master_, out_.data(), out_.size());
    if (n > 0)
        out_.erase(out_.begin(), out_.begin() + n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
        out_.clear();
}

std::size_t AttachmentIo::readIn(uint8_t* dst, std::size_t max) {
    if (dead_ || max == 0) return 0;
    const ssize_t n = ::read(master_, dst, max);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) dead_ = true;  // command gone
    return 0;
}

}  // namespace snsim::detail

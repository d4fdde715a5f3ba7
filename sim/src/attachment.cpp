#include "attachment.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace snsim::detail {

namespace {

constexpr std::size_t kOutLimit = 64 * 1024;
constexpr std::chrono::milliseconds kCommandGrace(500);

}  // namespace

void AttachmentIo::open(const Attachment& a) {
    close();
    dead_ = false;
    if (a.kind != Attachment::Kind::Pty && a.kind != Attachment::Kind::Exec) {
        throw std::system_error(EINVAL, std::generic_category(), "not a pty attachment");
    }
    // A command gets a terminal as a console would give it (echo, lines);
    // a plain instrument pty passes bytes unchanged.
    sncommon::PseudoTerminalOptions options{a.linkPath};
    options.raw = a.kind == Attachment::Kind::Pty;
    pty_ = std::make_unique<sncommon::PseudoTerminal>(options);
    if (a.kind == Attachment::Kind::Exec) startCommand(a.command);
}

void AttachmentIo::startCommand(const std::string& command) {
    const int console = pty_->slave();
    const sncommon::ChildIo io{console, console, console, console, true};
    if (!child_.start({"/bin/sh", "-c", command}, io)) {
        throw std::system_error(errno, std::generic_category(), "cannot start " + command);
    }
    // Only the command holds the console now: its end is seen as a hang-up.
    pty_->releaseSlave();
}

void AttachmentIo::close() {
    child_.stop(SIGHUP, kCommandGrace);
    pty_.reset();
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
    const ssize_t n = ::write(fd(), out_.data(), out_.size());
    if (n > 0)
        out_.erase(out_.begin(), out_.begin() + n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
        out_.clear();
}

std::size_t AttachmentIo::readIn(uint8_t* dst, std::size_t max) {
    if (dead_ || max == 0) return 0;
    const ssize_t n = ::read(fd(), dst, max);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) dead_ = true;  // command gone
    return 0;
}

}  // namespace snsim::detail

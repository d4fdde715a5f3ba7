// The instrument side of a virtual port when it is a pseudo-terminal of its
// own (Pty) or a command running on one (Exec).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sncommon/childProcess.h"
#include "sncommon/pseudoTerminal.h"
#include "snsim/emulator.h"

namespace snsim::detail {

class AttachmentIo {
public:
    AttachmentIo() = default;
    ~AttachmentIo() { close(); }
    AttachmentIo(const AttachmentIo&) = delete;
    AttachmentIo& operator=(const AttachmentIo&) = delete;

    // Opens the pty (and for Exec starts the command on it).  Throws
    // std::system_error when the pty, its link or the command cannot be made.
    void open(const Attachment& a);
    // Ends the command (SIGHUP, then SIGKILL), closes the pty, removes the link.
    void close();

    int fd() const { return dead_ || !pty_ ? -1 : pty_->master(); }
    bool dead() const { return dead_; }
    // Path a program opens to be the instrument ("/dev/pts/N").
    std::string path() const { return pty_ ? pty_->slavePath() : std::string(); }

    // Node output for the instrument; kept until the pty takes it (bounded).
    void queueOut(const std::vector<uint8_t>& bytes);
    bool outPending() const { return !out_.empty(); }
    void flushOut();
    // Reads what the instrument sent, at most max; marks the attachment dead
    // when the command has gone.
    std::size_t readIn(uint8_t* dst, std::size_t max);

private:
    void startCommand(const std::string& command);

    std::unique_ptr<sncommon::PseudoTerminal> pty_;
    sncommon::ChildProcess child_;
    bool dead_ = false;
    std::vector<uint8_t> out_;
};

}  // namespace snsim::detail

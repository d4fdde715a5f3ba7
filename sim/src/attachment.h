// The instrument side of a virtual port when it is a pseudo-terminal of its
// own (Pty) or a command running on one (Exec).
#pragma once

#include "snsim/emulator.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace snsim::detail {

class AttachmentIo {
public:
    AttachmentIo() = default;
    ~AttachmentIo() { close(); }
    AttachmentIo(const AttachmentIo&) = delete;
    AttachmentIo& operator=(const AttachmentIo&) = delete;

    // Opens the pty (and for Exec starts the command on it).
    bool open(const Attachment& a, std::string& err);
    // Ends the command (SIGHUP, then SIGKILL), closes the pty, removes the link.
    void close();

    int fd() const { return dead_ ? -1 : master_; }
    bool dead() const { return dead_; }
    // Path a program opens to be the instrument ("/dev/pts/N").
    const std::string& path() const { return path_; }

    // Node output for the instrument; kept until the pty takes it (bounded).
    void queueOut(const std::vector<uint8_t>& bytes);
    bool outPending() const { return !out_.empty(); }
    void flushOut();
    // Reads what the instrument sent, at most max; marks the attachment dead
    // when the command has gone.
    std::size_t readIn(uint8_t* dst, std::size_t max);

private:
    int master_ = -1;
    int keptSlave_ = -1;
    pid_t child_ = -1;
    bool dead_ = false;
    std::string path_, link_;
    std::vector<uint8_t> out_;
};

}  // namespace snsim::detail

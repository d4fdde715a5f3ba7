// The local end of a bridge: a pseudo-terminal in raw mode reachable
// through a symbolic link, removed again on destruction.
#pragma once

#include <string>

namespace snctl {

class PseudoTerminal {
public:
    // Throws DeviceError when the pty or the link cannot be made.  An
    // existing link is replaced only when it dangles (left by a killed run).
    explicit PseudoTerminal(const std::string& linkPath);
    ~PseudoTerminal();  // removes the link if it still points at this pty
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }  // non-blocking
    const std::string& slavePath() const { return slavePath_; }

private:
    void openPair();
    void makeLink();

    std::string linkPath_;
    std::string slavePath_;
    int master_ = -1;
    // Held open so the master never sees a hang-up when a client closes
    // its end; clients can come and go.
    int keptSlave_ = -1;
    bool linked_ = false;
};

}  // namespace snctl

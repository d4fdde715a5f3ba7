// A pseudo-terminal pair, optionally reachable through a symbolic link.
// The slave side is kept open, so the master never reads a hang-up while
// clients come and go; the link goes when the object goes.
#pragma once

#include <string>

namespace sncommon {

struct PseudoTerminalOptions {
    std::string linkPath;  // empty: no link
    // Raw: bytes pass unchanged.  Otherwise the line discipline's defaults
    // (echo, canonical input), as a program started on it expects.
    bool raw = true;
    unsigned short rows = 24;
    unsigned short columns = 80;
};

class PseudoTerminal {
public:
    // Throws std::system_error when the pair or the link cannot be made.
    // The link path is claimed first, before the pair is made: a link whose
    // target is gone (left by a killed run) is replaced; a live link, a file
    // or a directory is refused, and never removed later either.
    explicit PseudoTerminal(const PseudoTerminalOptions& options = {});
    ~PseudoTerminal();  // removes the link if it still points at this pty
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }                       // non-blocking, close-on-exec
    int slave() const { return slave_; }                         // -1 once released
    const std::string& slavePath() const { return slavePath_; }  // "/dev/pts/N"
    const std::string& linkPath() const { return linkPath_; }

    // Closes the kept slave: once every other holder has closed it too,
    // the master reads a hang-up (a program started on it has ended).
    void releaseSlave();

private:
    void openPair(const PseudoTerminalOptions& options);
    void makeLink();
    void closeAll();

    std::string linkPath_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;
    bool linked_ = false;
};

}  // namespace sncommon

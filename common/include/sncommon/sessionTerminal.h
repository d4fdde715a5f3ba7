// Whether a device is some process's controlling terminal: a console, a
// shell's pty, a person's and never a Modbus line.  A pseudo-terminal that
// went can come back under its number as someone's terminal, so a program
// waiting for its device to return looks before it opens it again.
#pragma once

#include <string>

namespace sncommon {

// True when a process this user can see has `device` as its terminal.
bool isSessionTerminal(const std::string& device);

}  // namespace sncommon

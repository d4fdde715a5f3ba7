// Who holds a serial device's lock, in the sentence a refused program
// prints: what to do instead where that can be known.
#pragma once

#include <string>

namespace sncommon {

// "DEVICE is in use by PID N (snbusd); reach the bus through tcp:HOST:PORT"
// for a bus daemon whose listening address is known, "DEVICE is in use by
// PID N (NAME)" for another holder the kernel names, and "DEVICE is in use
// by another program" otherwise.
std::string deviceHolderSentence(const std::string& device);

}  // namespace sncommon

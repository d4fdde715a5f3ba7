// Windows serial names: "COMk" in any case stands for /dev/ttyS(k-1).
#pragma once

#include <string>

namespace snctl {

// The device to open for `name`: COM names translated, anything else as
// given.  A COM number that names no ttyS device (below 1, or too large for
// the 16-character name the tools share) throws UsageError.
std::string translateDeviceName(const std::string& name);

}  // namespace snctl

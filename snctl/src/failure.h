// The two ways a command ends early: a bad command line (exit status 2) or
// a device operation that failed (exit status 1).  The relay of a virtual
// port fails the same way, so the kinds are shared.
#pragma once

#include "sncommon/deviceFailure.h"

namespace snctl {

using sncommon::check;
using sncommon::describeDeviceError;
using sncommon::DeviceError;
using sncommon::UsageError;

}  // namespace snctl

// Line speeds the serial driver (and libmodbus's RTU back end) can set.
#pragma once

namespace snlib {

// libmodbus silently runs any other speed at 9600, so the library refuses
// it instead of talking to the node at the wrong rate.
bool isSupportedLineSpeed(int speed);

}  // namespace snlib

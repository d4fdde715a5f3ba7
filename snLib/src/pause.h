// Sleeping for the library's pauses, without the lock held.
#pragma once

#include <cstdint>

namespace snlib {

// Sleeps the whole time even when interrupted by signals; unlike usleep it
// accepts pauses of a second and more.
void pauseMicroseconds(uint64_t us);

}  // namespace snlib

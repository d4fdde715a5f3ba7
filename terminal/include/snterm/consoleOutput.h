// Unbuffered writes to the console that lose no byte.
#pragma once

#include <cstddef>

namespace snterm {

// Writes all `length` bytes to `fd`, going on after short writes and
// interrupted calls.  False when the descriptor reports any other error.
bool writeAll(int fd, const void* data, std::size_t length);

}  // namespace snterm

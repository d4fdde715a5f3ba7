// Whole transfers on a descriptor: short transfers and interrupted calls
// are gone on with, and a non-blocking descriptor is waited on, not spun on.
#pragma once

#include <chrono>
#include <cstddef>

namespace sncommon {

inline constexpr std::chrono::milliseconds kNoTimeout{-1};

// Writes all `length` bytes.  False when the descriptor reports any other
// error, or when `timeout` (if given) passes first.
bool writeAll(int fd, const void* data, std::size_t length,
              std::chrono::milliseconds timeout = kNoTimeout);

// Reads until `length` bytes came, end of file, an error or the timeout;
// the count read.
std::size_t readAll(int fd, void* data, std::size_t length,
                    std::chrono::milliseconds timeout = kNoTimeout);

// Adds O_NONBLOCK and FD_CLOEXEC to a descriptor.
void setNonBlockingCloseOnExec(int fd);

}  // namespace sncommon

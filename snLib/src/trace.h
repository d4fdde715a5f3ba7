// Debug output: trace lines on stdout, failure notes on stderr, both only
// while the debug level is non-zero.
#pragma once

#include "snLib.h"

namespace snlib {

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void debugNote(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The stored device name may fill its field with no terminator, so names
// are always printed with this bound.
#define SN_NAME "%.256s"

}  // namespace snlib

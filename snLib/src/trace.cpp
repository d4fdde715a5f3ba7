#include "trace.h"

#include "libState.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace snlib {
namespace {

void printTo(FILE* stream, const char* format, va_list args) {
    // Printing must not disturb the errno a caller is about to read.
    const int savedErrno = errno;
    std::vfprintf(stream, format, args);
    std::fflush(stream);
    errno = savedErrno;
}

}  // namespace

void trace(const char* format, ...) {
    if (debugLevel() == 0) return;
    va_list args;
    va_start(args, format);
    printTo(stdout, format, args);
    va_end(args);
}

void debugNote(const char* format, ...) {
    if (debugLevel() == 0) return;
    va_list args;
    va_start(args, format);
    printTo(stderr, format, args);
    va_end(args);
}

}  // namespace snlib

#include "snterm/comPort.h"

#include <strings.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace snterm {

namespace {

// Reads the COM number the way "%d" would, but reports overflow instead of
// leaving it undefined.  False when no digits follow.
bool readComNumber(const char* text, long& number, bool& inRange) {
    char* end = nullptr;
    errno = 0;
    number = std::strtol(text, &end, 10);
    if (end == text) {
        return false;
    }
    inRange = errno != ERANGE && number >= INT_MIN && number <= INT_MAX;
    return true;
}

}  // namespace

ComTranslation translateComName(const char* name, char (&out)[kComNameSize]) {
    if (name == nullptr || strncasecmp(name, "COM", 3) != 0) {
        return ComTranslation::NotCom;
    }
    long number = 0;
    bool inRange = false;
    if (!readComNumber(name + 3, number, inRange)) {
        return ComTranslation::NotCom;
    }
    // COM1 is ttyS0; COM0 and below would name ttyS4294967295 and up.
    if (!inRange || number < 1) {
        return ComTranslation::Invalid;
    }
    char candidate[kComNameSize];
    const int length = std::snprintf(candidate, sizeof candidate, "/dev/ttyS%u",
                                     static_cast<unsigned>(number - 1));
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof candidate) {
        return ComTranslation::Invalid;
    }
    std::memcpy(out, candidate, sizeof candidate);
    return ComTranslation::Translated;
}

}  // namespace snterm

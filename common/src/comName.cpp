#include "sncommon/comName.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "sncommon/integerParsing.h"

namespace sncommon {

ComTranslation translateComName(const char* name, char (&out)[kComNameSize]) {
    if (name == nullptr || strncasecmp(name, "COM", 3) != 0) return ComTranslation::NotCom;
    const std::optional<LeadingInteger> number = readLeadingInteger(name + 3);
    if (!number) return ComTranslation::NotCom;
    // COM1 is ttyS0; COM0 and below would name ttyS4294967295 and up.
    if (!number->fitsInt || number->value < 1) return ComTranslation::Invalid;
    char candidate[kComNameSize];
    const int length = std::snprintf(candidate, sizeof candidate, "/dev/ttyS%u",
                                     static_cast<unsigned>(number->value - 1));
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof candidate) {
        return ComTranslation::Invalid;
    }
    std::memcpy(out, candidate, sizeof candidate);
    return ComTranslation::Translated;
}

}  // namespace sncommon

#include "sncommon/hexText.h"

#include <cstdio>

namespace sncommon {

std::string hexText(unsigned long long value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, value);
    return text;
}

}  // namespace sncommon

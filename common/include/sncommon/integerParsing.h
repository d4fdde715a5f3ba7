// Numbers from command lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sncommon {

// Strict: the whole text is a number in [min, max], decimal or hexadecimal
// with a 0x/0X prefix, with an optional leading '-'.  Nothing otherwise, so
// a typo never silently becomes 0.
std::optional<long> parseInteger(std::string_view text, long min, long max);

// The one message for a number parseInteger refused:
// "WHAT must be a number from MIN to MAX, not 'TEXT'".
std::string integerRangeError(std::string_view what, long min, long max, std::string_view text);

// A number read the way atoi and "%d" read one: leading blanks, an optional
// sign, then decimal digits; whatever follows is ignored.
struct LeadingInteger {
    long value = 0;        // saturated at the limits of long
    bool fitsInt = false;  // false when the digits lie beyond int
};
// Nothing when no digits follow the blanks and the sign.
std::optional<LeadingInteger> readLeadingInteger(const char* text);

}  // namespace sncommon

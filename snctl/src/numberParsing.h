// Strict conversion of command-line numbers: the whole text must be a
// number in range, so a typo never silently becomes 0.
#pragma once

#include <optional>
#include <string_view>

namespace snctl {

// Decimal, or hexadecimal with a 0x/0X prefix; an optional leading '-'.
// Empty when the text has anything else in it or lies outside [min, max].
std::optional<long> parseInteger(std::string_view text, long min, long max);

// Like parseInteger, but throws UsageError naming `what` and the range.
long requireInteger(std::string_view text, long min, long max, std::string_view what);

}  // namespace snctl

// Strict conversion of command-line numbers: the whole text must be a
// number in range, so a typo never silently becomes 0.
#pragma once

#include <string>
#include <string_view>

#include "failure.h"
#include "sncommon/integerParsing.h"

namespace snctl {

using sncommon::parseInteger;

// Like parseInteger, but throws UsageError naming `what` and the range.
inline long requireInteger(std::string_view text, long min, long max, std::string_view what) {
    const std::optional<long> value = parseInteger(text, min, max);
    if (!value) throw UsageError(sncommon::integerRangeError(what, min, max, text));
    return *value;
}

}  // namespace snctl

#include "sncommon/integerParsing.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

namespace sncommon {

namespace {

// A base-16 prefix is taken off `text`; the base it implies.
int takeBase(std::string_view& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        return 16;
    }
    return 10;
}

std::optional<long> signedValue(unsigned long magnitude, bool negative) {
    constexpr unsigned long kLongMax = static_cast<unsigned long>(LONG_MAX);
    if (magnitude > kLongMax + (negative ? 1 : 0)) return std::nullopt;
    if (!negative) return static_cast<long>(magnitude);
    return magnitude > kLongMax ? LONG_MIN : -static_cast<long>(magnitude);
}

}  // namespace

std::optional<long> parseInteger(std::string_view text, long min, long max) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    const int base = takeBase(text);
    // from_chars takes no sign, blanks or prefix of its own: those would be
    // a second sign or junk here.
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    unsigned long magnitude = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
    if (error != std::errc{} || stop != end) return std::nullopt;
    const std::optional<long> value = signedValue(magnitude, negative);
    if (!value || *value < min || *value > max) return std::nullopt;
    return value;
}

std::string integerRangeError(std::string_view what, long min, long max, std::string_view text) {
    return std::string(what) + " must be a number from " + std::to_string(min) + " to " +
           std::to_string(max) + ", not '" + std::string(text) + "'";
}

std::optional<LeadingInteger> readLeadingInteger(const char* text) {
    if (text == nullptr) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    // strtol saturates at the limits of long and reports it as ERANGE.
    const long value = std::strtol(text, &end, 10);
    if (end == text) return std::nullopt;
    const bool fitsInt = errno != ERANGE && value >= INT_MIN && value <= INT_MAX;
    return LeadingInteger{value, fitsInt};
}

}  // namespace sncommon

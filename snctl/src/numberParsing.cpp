#include "numberParsing.h"

#include "failure.h"

#include <charconv>
#include <climits>
#include <string>

namespace snctl {

std::optional<long> parseInteger(std::string_view text, long min, long max) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // from_chars takes no sign, blanks or prefix of its own: those would be
    // a second sign or junk here.
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    unsigned long magnitude = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
    if (error != std::errc{} || stop != end) return std::nullopt;
    constexpr unsigned long kLongMax = static_cast<unsigned long>(LONG_MAX);
    if (magnitude > kLongMax + (negative ? 1 : 0)) return std::nullopt;
    const long value = !negative              ? static_cast<long>(magnitude)
                       : magnitude > kLongMax ? LONG_MIN
                                              : -static_cast<long>(magnitude);
    if (value < min || value > max) return std::nullopt;
    return value;
}

long requireInteger(std::string_view text, long min, long max, std::string_view what) {
    const std::optional<long> value = parseInteger(text, min, max);
    if (!value) {
        throw UsageError(std::string(what) + " must be a number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ", not '" + std::string(text) + "'");
    }
    return *value;
}

}  // namespace snctl
